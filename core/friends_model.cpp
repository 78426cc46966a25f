#include "core/friends_model.h"

#include <algorithm>
#include <cwctype>

#include "account/settings_store.h"
#include "base/messages.h"
#include "platform/sound.h"
#include "platform/text.h"
#include "xmpp/transport_list.h"

namespace vokar {
namespace {

int compare_ignoring_case(const std::wstring& a, const std::wstring& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto ca = std::towlower(static_cast<wint_t>(a[i]));
        const auto cb = std::towlower(static_cast<wint_t>(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool comes_before(const Friend& a, const Friend& b)
{
    if (a.status != b.status)
        return a.status < b.status;
    if (a.status == 1) {
        if (a.has_unread != b.has_unread)
            return a.has_unread;
        if ((a.network == 5) != (b.network == 5))
            return a.network == 5;
    }
    return compare_ignoring_case(a.name, b.name) < 0;
}

// The name of a contact from its JID: before the "@", then before a "\40"
// (the escaped "@" of a gateway contact).
std::wstring name_from_jid(const std::wstring& jid)
{
    std::wstring name = jid.substr(0, jid.find(L'@'));
    return name.substr(0, name.find(L"\\40"));
}

} // namespace

FriendsModel::FriendsModel(const SettingsStore& settings, Config config)
    : settings_(settings), config_(std::move(config)),
      mutex_(platform::NamedMutex::unique_name("_VOKAR_FRIENDS_MUTEX_"))
{
}

void FriendsModel::addWindow(platform::Window window)
{
    std::lock_guard lock(windows_mutex_);
    windows_.push_back(std::move(window));
}

void FriendsModel::notify()
{
    std::vector<platform::Window> windows;
    {
        std::lock_guard lock(windows_mutex_);
        windows = windows_;
    }
    for (const auto& w : windows)
        platform::send_message(w, code(MessageCode::FriendsModelChanged),
                               reinterpret_cast<uintptr_t>(this));
}

std::wstring FriendsModel::display_name_for(const std::wstring& name)
{
    if (name.size() < 8)
        return name + L": ";
    const auto space = name.find(L' ');
    if (space != std::wstring::npos && space >= 1 && space <= 7)
        return name.substr(0, space) + L": ";
    return name.substr(0, 8) + L": ";
}

int FriendsModel::network_of(const std::wstring& jid) const
{
    const auto at = jid.find(L'@');
    const std::string domain =
        platform::to_utf8(at == std::wstring::npos ? jid : jid.substr(at + 1));
    if (domain == config_.service_domain)
        return 5;
    const int network = TransportList(config_.service_domain).network_of(domain);
    return network == -1 ? 6 : network;
}

Friend FriendsModel::make_friend(const std::wstring& jid, std::wstring name, int status) const
{
    Friend f;
    f.jid = jid;
    if (name.empty() || name == jid)
        name = name_from_jid(jid);
    if (name.empty() && config_.contact_name)
        name = config_.contact_name(jid);
    f.name = name;
    f.display_name = display_name_for(name);
    f.status = status == 6 ? 4 : status;
    f.network = network_of(jid);
    return f;
}

std::wstring FriendsModel::selected_jid() const
{
    if (selected_ >= 0 && static_cast<size_t>(selected_) < shown_.size())
        return all_[shown_[static_cast<size_t>(selected_)]].jid;
    return {};
}

void FriendsModel::sort_and_rebuild(const std::wstring& selected_jid)
{
    std::stable_sort(all_.begin(), all_.end(), comes_before);
    shown_.clear();
    const bool show_offline = settings_.get(&Settings::show_offline_friends);
    for (size_t i = 0; i < all_.size(); ++i) {
        const Friend& f = all_[i];
        if (show_offline || (f.status != 4 && f.status != 5) || f.has_unread)
            shown_.push_back(i);
    }
    if (!first_move_ && !selected_jid.empty()) {
        for (size_t i = 0; i < shown_.size(); ++i)
            if (all_[shown_[i]].jid == selected_jid)
                selected_ = static_cast<int>(i);
    }
}

std::wstring FriendsModel::strip_tagline(std::wstring text, bool* chat_only, bool* changed) const
{
    // The tagline the service's clients append: " ( <host> - talk for free )".
    const std::wstring talk = config_.web_host_name + L" - talk for free";
    const std::wstring chat = config_.web_host_name + L" - chat for free";
    const size_t cut = 3 + talk.size() + 2;
    *changed = false;
    const bool is_talk = text.find(talk) != std::wstring::npos;
    const bool is_chat = !is_talk && text.find(chat) != std::wstring::npos;
    if (!is_talk && !is_chat)
        return text;
    *changed = true;
    *chat_only = is_chat;
    // A text shorter than the tagline is left whole rather than cut short.
    if (text.size() >= cut)
        text.resize(text.size() - cut);
    return text;
}

void FriendsModel::onRosterItem(const std::wstring& jid, const std::wstring& name, int status)
{
    if (jid.empty())
        return;
    {
        std::lock_guard lock(mutex_);
        auto it =
            std::find_if(all_.begin(), all_.end(), [&](const Friend& f) { return f.jid == jid; });
        if (it != all_.end()) {
            // A roster item without a name carries the JID: the name
            // derived from it when the friend was made stays.
            if (!name.empty() && name != jid && name != it->name) {
                it->name = name;
                it->display_name = display_name_for(name);
            }
        } else {
            all_.push_back(make_friend(jid, name, status));
        }
        sort_and_rebuild(selected_jid());
    }
    notify();
}

void FriendsModel::onPresence(const std::wstring& jid, const std::wstring& status_text, int status)
{
    if (jid.empty())
        return;
    {
        std::lock_guard lock(mutex_);
        auto it =
            std::find_if(all_.begin(), all_.end(), [&](const Friend& f) { return f.jid == jid; });
        if (it != all_.end()) {
            it->status = status;
            bool chat_only = false, tagged = false;
            it->status_text = strip_tagline(status_text, &chat_only, &tagged);
            if (tagged)
                it->chat_only = chat_only && it->network == 5;
        } else if (status == 5 || status == 0) {
            all_.push_back(make_friend(jid, L"", status));
        }
        sort_and_rebuild(selected_jid());
    }
    notify();
}

void FriendsModel::remove(const std::wstring& jid)
{
    {
        std::lock_guard lock(mutex_);
        const auto it =
            std::find_if(all_.begin(), all_.end(), [&](const Friend& f) { return f.jid == jid; });
        if (it == all_.end())
            return;
        int shown_index = -1;
        for (size_t i = 0; i < shown_.size(); ++i)
            if (all_[shown_[i]].jid == jid)
                shown_index = static_cast<int>(i);
        const bool was_selected = shown_index != -1 && shown_index == selected_;
        // Taken before the erase: the shown list indexes the friends as they were.
        const std::wstring keep = was_selected ? std::wstring() : selected_jid();
        all_.erase(it);
        sort_and_rebuild(keep);
        if (was_selected)
            selected_ = std::max(shown_index - 1, shown_.empty() ? -1 : 0);
    }
    notify();
}

void FriendsModel::removeNetwork(int network)
{
    {
        std::lock_guard lock(mutex_);
        std::erase_if(all_, [&](const Friend& f) { return f.network == network; });
        sort_and_rebuild({});
        selected_ = 0;
    }
    notify();
}

void FriendsModel::clear()
{
    {
        std::lock_guard lock(mutex_);
        all_.clear();
        shown_.clear();
        first_shown_ = 0;
        selected_ = 0;
    }
    notify();
}

void FriendsModel::setAllOffline()
{
    {
        std::lock_guard lock(mutex_);
        for (size_t i : shown_)
            all_[i].status = 4;
    }
    notify();
}

void FriendsModel::onMessage(const std::wstring& jid, const std::wstring& text)
{
    std::lock_guard lock(mutex_);
    auto it = std::find_if(all_.begin(), all_.end(), [&](const Friend& f) { return f.jid == jid; });
    if (it == all_.end())
        return;
    if (settings_.get(&Settings::message_alert))
        platform::play_sound(L"ZuroVaro");
    if (it->messages.size() >= kMaxMessages)
        it->messages.erase(it->messages.begin(), it->messages.end() - (kMaxMessages - 1));
    it->messages.push_back({true, text});
    it->has_unread = true;
    it->is_new = true;
    if (selected_ >= 0 && static_cast<size_t>(selected_) < shown_.size() &&
        &all_[shown_[static_cast<size_t>(selected_)]] == &*it)
        it->is_new = false;
}

void FriendsModel::markRead(const std::wstring& jid)
{
    {
        std::lock_guard lock(mutex_);
        auto it =
            std::find_if(all_.begin(), all_.end(), [&](const Friend& f) { return f.jid == jid; });
        if (it == all_.end() || (!it->has_unread && !it->is_new))
            return;
        it->has_unread = false;
        it->is_new = false;
    }
    notify();
}

void FriendsModel::move_selection(int delta)
{
    {
        std::lock_guard lock(mutex_);
        if (shown_.empty()) {
            selected_ = -1;
            return;
        }
        const int count = static_cast<int>(shown_.size());
        int index = selected_ + delta;
        if (index >= count)
            index = 0;
        if (index < 0)
            index = count - 1;
        selected_ = std::clamp(index, 0, count - 1);
        first_shown_ = std::clamp(first_shown_, 0, count - 1);
        if (selected_ != 0)
            first_move_ = false;
        Friend& f = all_[shown_[static_cast<size_t>(selected_)]];
        int height = view_height_;
        if (!f.status_text.empty())
            height -= 12;
        if (!f.messages.empty())
            height -= 60;
        rows_shown_ = height / 24 - 1;
        f.is_new = false;
        if (selected_ >= first_shown_ + rows_shown_ && first_shown_ < count)
            first_shown_ = std::max(0, selected_ - rows_shown_ + 1);
        if (selected_ < first_shown_)
            first_shown_ = selected_;
    }
    notify();
}

void FriendsModel::selectPrevious()
{
    move_selection(-1);
}
void FriendsModel::selectNext()
{
    move_selection(+1);
}

void FriendsModel::select(int index)
{
    {
        std::lock_guard lock(mutex_);
        if (index < 0 || static_cast<size_t>(index) >= shown_.size())
            return;
        selected_ = index;
        if (index != 0)
            first_move_ = false;
        all_[shown_[static_cast<size_t>(index)]].is_new = false;
    }
    notify();
}

void FriendsModel::setViewHeight(int pixels)
{
    std::lock_guard lock(mutex_);
    view_height_ = pixels;
}

std::optional<Friend> FriendsModel::find(const std::wstring& jid)
{
    std::lock_guard lock(mutex_);
    for (const auto& f : all_)
        if (f.jid == jid)
            return f;
    return std::nullopt;
}

std::optional<Friend> FriendsModel::friendAt(int index)
{
    std::lock_guard lock(mutex_);
    if (index < 0 || static_cast<size_t>(index) >= shown_.size())
        return std::nullopt;
    return all_[shown_[static_cast<size_t>(index)]];
}

int FriendsModel::shownCount()
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(shown_.size());
}

int FriendsModel::count()
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(all_.size());
}

int FriendsModel::selected()
{
    std::lock_guard lock(mutex_);
    return selected_;
}

int FriendsModel::firstShown()
{
    std::lock_guard lock(mutex_);
    return first_shown_;
}

int FriendsModel::rowsShown()
{
    std::lock_guard lock(mutex_);
    return rows_shown_;
}

} // namespace vokar
