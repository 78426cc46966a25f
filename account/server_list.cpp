#include "account/server_list.h"

#include "base/scan_string.h"

namespace vokar {

ServerEndpoint default_endpoint(int kind, const platform::OperatorConfig& config)
{
    switch (kind) {
    case kServerSip:
        return {config.sip_host, config.sip_port};
    case kServerXmpp:
        return {config.xmpp_host, config.xmpp_port};
    case kServerWeb:
        return {config.web_host, config.web_port};
    case kServerStun:
        return {config.stun_host, config.stun_port};
    case kServerFallback:
        return {config.server_ip, config.server_port};
    default:
        return {config.service_domain, 80};
    }
}

ServerList::ServerList(int kind, ServerEndpoint fallback, uint32_t index)
    : kind_(kind), fallback_(std::move(fallback)), index_(index)
{
}

std::string ServerList::current_host()
{
    return current().host;
}

int ServerList::current_port()
{
    return current().port;
}

ServerEndpoint ServerList::current()
{
    std::lock_guard lock(mutex_);
    if (entries_.empty())
        return fallback_;
    if (index_ >= entries_.size())
        index_ = 0;
    return entries_[index_];
}

void ServerList::advance()
{
    std::function<void()> save;
    {
        std::lock_guard lock(mutex_);
        if (skip_next_advance_) {
            skip_next_advance_ = false;
            return;
        }
        if (++index_ >= entries_.size())
            index_ = 0;
        save = save_;
    }
    if (save)
        save();
}

size_t ServerList::load(std::string_view text, bool change_check)
{
    // The count, after any whitespace (a legacy settings text continues on
    // the line after its previous field), then the rest of its line.
    size_t pos = 0;
    while (pos < text.size() &&
           (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\r' || text[pos] == '\n'))
        ++pos;
    const auto line_end = [&](size_t from) {
        const auto nl = text.find('\n', from);
        return nl == std::string_view::npos ? text.size() : nl;
    };
    size_t end = line_end(pos);
    long long count = ScanString(text.substr(pos, end - pos)).to_int();
    pos = std::min(end + 1, text.size());

    std::vector<ServerEndpoint> loaded;
    for (; count > 0 && pos < text.size(); --count) {
        end = line_end(pos);
        const std::string_view line = text.substr(pos, end - pos);
        pos = std::min(end + 1, text.size());
        const auto colon = line.find(':');
        if (colon == std::string_view::npos)
            loaded.push_back({std::string(line), ScanString(line).to_int()});
        else
            loaded.push_back(
                {std::string(line.substr(0, colon)), ScanString(line.substr(colon + 1)).to_int()});
    }

    bool ask = false;
    {
        std::lock_guard lock(mutex_);
        const bool changed = loaded != entries_;
        entries_ = std::move(loaded);
        if (change_check && changed) {
            index_ = 0;
            ask = kind_ == kServerSip || kind_ == kServerXmpp;
        }
    }
    if (ask && client_is_up()) {
        std::lock_guard lock(mutex_);
        skip_next_advance_ = true;
    }
    return pos;
}

uint32_t ServerList::index()
{
    std::lock_guard lock(mutex_);
    return index_;
}

void ServerList::set_index(uint32_t index)
{
    std::lock_guard lock(mutex_);
    index_ = index;
}

bool ServerList::skip_next_advance()
{
    std::lock_guard lock(mutex_);
    return skip_next_advance_;
}

std::vector<ServerEndpoint> ServerList::entries()
{
    std::lock_guard lock(mutex_);
    return entries_;
}

void ServerList::clear()
{
    std::lock_guard lock(mutex_);
    entries_.clear();
}

void ServerList::append(ServerEndpoint endpoint)
{
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(endpoint));
}

bool ServerList::client_is_up()
{
    // Called under its own lock, not the list's: set_client_up() waits for a
    // running call, so the function never runs once its owner has removed it.
    std::lock_guard lock(client_up_mutex_);
    return client_up_ && client_up_();
}

void ServerList::set_client_up(std::function<bool()> client_up)
{
    std::lock_guard lock(client_up_mutex_);
    client_up_ = std::move(client_up);
}

void ServerList::set_save_hook(std::function<void()> save)
{
    std::lock_guard lock(mutex_);
    save_ = std::move(save);
}

} // namespace vokar
