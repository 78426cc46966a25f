#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/friends_model.h"
#include "ui/chat_view.h"

namespace vokar::ui {

// The chat transcripts the screens show, one per friend: the user's own lines
// ("Me: " and the text) interleaved with the friend's (its display name and
// the text) in the order they happened. The friends model keeps only the
// last received messages; sync() picks up those not yet in the transcript.
// GUI thread.
class ChatLog {
public:
    // Lines kept per friend; older ones are dropped.
    static constexpr size_t kMaxLines = 1000;

    void add_own(const std::wstring& jid, const std::wstring& text);
    // Appends the friend's received messages that arrived since the last
    // sync; true when there were any.
    bool sync(const Friend& f);
    // Empties the transcript; messages already received do not come back.
    void clear(const std::wstring& jid);
    // Stays valid (and is updated in place) for the life of the log.
    const ChatView::Lines& lines(const std::wstring& jid);

private:
    struct Transcript {
        ChatView::Lines lines;
        std::vector<std::wstring> seen; // the model's received messages at the last sync
    };
    void append(Transcript& t, std::wstring line);

    std::map<std::wstring, Transcript> chats_;
};

} // namespace vokar::ui
