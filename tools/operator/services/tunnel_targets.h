#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/operator_config.h"

namespace vokar::operatord {

// Where the tunnel may relay to: the operator's own endpoints as
// operator.conf names them (SIP, the SIP front, XMPP, STUN, the relay, web,
// echo, the server), plus the `tunnel_allowed_targets` list; never the
// tunnel's own listener. Anything else (loopback-only services, private
// networks, the rest of the internet) is refused, so the tunnel is no open
// relay. Targets are compared after name resolution, by IP and port.
class TunnelTargets {
public:
    static constexpr std::string_view kAllowedKey = "tunnel_allowed_targets";

    // Resolves the configured endpoints (numeric addresses need no lookup;
    // a name that does not resolve allows nothing). nullopt with *error for
    // a malformed `tunnel_allowed_targets` entry: HOST:PORT, separated by
    // blanks or commas.
    static std::optional<TunnelTargets> from_config(const platform::OperatorConfig& config,
                                                    std::string* error);

    // A `tunnel_allowed_targets` value: HOST:PORT entries separated by
    // blanks or commas (none when empty); nullopt with *error naming the
    // first malformed entry.
    static std::optional<std::vector<std::pair<std::string, uint16_t>>>
    parse_list(std::string_view list, std::string* error);

    void set_listener(const sockaddr_in& address) { listener_ = address; }
    bool allows(const sockaddr_in& target) const;

private:
    void add(const std::string& host, uint16_t port);

    std::set<std::pair<uint32_t, uint16_t>> allowed_; // address in network order, port
    sockaddr_in listener_{};
};

} // namespace vokar::operatord
