#include "ui/screens/chat_log.h"

#include "base/strings.h"

namespace vokar::ui {

void ChatLog::append(Transcript& t, std::wstring line)
{
    t.lines.push_back(std::move(line));
    while (t.lines.size() > kMaxLines)
        t.lines.pop_front();
}

void ChatLog::add_own(const std::wstring& jid, const std::wstring& text)
{
    append(chats_[jid], LoadResourceString(StringId::CHAT_OWN_LINE_PREFIX) + text);
}

bool ChatLog::sync(const Friend& f)
{
    Transcript& t = chats_[f.jid];
    std::vector<std::wstring> now;
    now.reserve(f.messages.size());
    for (const FriendMessage& m : f.messages)
        if (m.received)
            now.push_back(m.text);
    // The model appends and drops its oldest: find where the messages seen
    // last time continue in the current list (the longest overlap wins).
    size_t known = 0;
    for (size_t start = 0; start <= t.seen.size(); ++start) {
        const size_t overlap = t.seen.size() - start;
        if (overlap > now.size())
            continue;
        if (std::equal(t.seen.begin() + static_cast<std::ptrdiff_t>(start), t.seen.end(),
                       now.begin())) {
            known = overlap;
            break;
        }
    }
    for (size_t i = known; i < now.size(); ++i)
        append(t, f.display_name + now[i]);
    const bool added = known < now.size();
    t.seen = std::move(now);
    return added;
}

void ChatLog::clear(const std::wstring& jid)
{
    chats_[jid].lines.clear();
}

const ChatView::Lines& ChatLog::lines(const std::wstring& jid)
{
    return chats_[jid].lines;
}

} // namespace vokar::ui
