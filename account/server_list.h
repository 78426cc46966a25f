#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/operator_config.h"

namespace vokar {

struct ServerEndpoint {
    std::string host;
    int port = 0;
    bool operator==(const ServerEndpoint&) const = default;
};

// Kinds of server list, in the order the settings store creates them.
enum ServerKind : int {
    kServerSip = 0,
    kServerXmpp = 1,
    kServerWeb = 2,
    kServerStun = 3,
    kServerFallback = 7,
};

// The built-in endpoint of a kind, used while its list is empty.
ServerEndpoint default_endpoint(int kind, const platform::OperatorConfig& config);

// The endpoints of one service handed out by the operator, with the current
// position. Every operation holds the list's own mutex.
class ServerList {
public:
    ServerList(int kind, ServerEndpoint fallback, uint32_t index = 0);
    ServerList(const ServerList&) = delete;
    ServerList& operator=(const ServerList&) = delete;

    int kind() const { return kind_; }

    // The endpoint at the current index (an index past the end is reset to
    // 0), or the fallback endpoint while the list is empty.
    std::string current_host();
    int current_port();
    ServerEndpoint current();

    // Moves to the next endpoint and saves the settings, unless the list was
    // just replaced while its client was up: then only that mark is cleared.
    void advance();

    // Replaces the entries from count-prefixed text: a decimal count on the
    // first line, then that many "host:port" lines (reading stops at the end
    // of the text). With the change check, a different list resets the index
    // to 0 and, while the list's client is up, skips the next advance.
    // Returns the number of bytes of `text` consumed.
    size_t load(std::string_view text, bool change_check);

    uint32_t index();
    void set_index(uint32_t index);
    bool skip_next_advance();
    std::vector<ServerEndpoint> entries();
    void clear();
    void append(ServerEndpoint endpoint);

    // Whether the client that uses this list (the SIP login for kServerSip,
    // the XMPP connection for kServerXmpp) is up; asked by the change check. Once this
    // returns, the previous function is neither running nor called again.
    // The function must not call the list.
    void set_client_up(std::function<bool()> client_up);
    // Called after an advance, without the list's lock held.
    void set_save_hook(std::function<void()> save);

private:
    bool client_is_up();

    const int kind_;
    const ServerEndpoint fallback_;
    std::mutex mutex_;
    std::vector<ServerEndpoint> entries_;
    uint32_t index_;
    bool skip_next_advance_ = false;
    std::mutex client_up_mutex_; // client_up_, also while it runs
    std::function<bool()> client_up_;
    std::function<void()> save_;
};

} // namespace vokar
