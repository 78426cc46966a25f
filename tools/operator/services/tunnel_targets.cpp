#include "tools/operator/services/tunnel_targets.h"

#include "tools/operator/services/service.h"

#include <arpa/inet.h>

#include <algorithm>

#include "tools/operator/loop/socket_util.h"

namespace vokar::operatord {
namespace {

bool is_loopback(uint32_t address_network_order)
{
    return (ntohl(address_network_order) >> 24) == 127;
}

} // namespace

std::optional<TunnelTargets> TunnelTargets::from_config(const platform::OperatorConfig& config,
                                                        std::string* error)
{
    TunnelTargets targets;
    targets.add(config.sip_host, config.sip_port);
    targets.add(config.sip_relay_host, config.sip_relay_port);
    targets.add(config.xmpp_host, config.xmpp_port);
    targets.add(config.stun_host, config.stun_port);
    targets.add(config.relay_host, config.relay_port);
    targets.add(config.web_host, config.web_port);
    targets.add(config.echo_host, config.echo_udp_port);
    targets.add(config.echo_host, config.echo_tcp_port);
    targets.add(config.server_ip, config.server_port);

    const auto entries = parse_list(config.get(kAllowedKey), error);
    if (!entries)
        return std::nullopt;
    for (const auto& [host, port] : *entries)
        targets.add(host, port);
    return targets;
}

std::optional<std::vector<std::pair<std::string, uint16_t>>>
TunnelTargets::parse_list(std::string_view list, std::string* error)
{
    std::vector<std::pair<std::string, uint16_t>> entries;
    for (const std::string_view entry : config_list_items(list)) {
        const auto colon = entry.rfind(':');
        const auto port = colon == std::string_view::npos
                              ? std::nullopt
                              : platform::parse_port(entry.substr(colon + 1));
        if (!port || colon == 0) {
            if (error)
                *error =
                    std::string(kAllowedKey) + ": '" + std::string(entry) + "' is not HOST:PORT";
            return std::nullopt;
        }
        entries.emplace_back(entry.substr(0, colon), *port);
    }
    return entries;
}

void TunnelTargets::add(const std::string& host, uint16_t port)
{
    if (const auto ip = resolve_ipv4_blocking(host))
        allowed_.emplace(ip->s_addr, port);
}

bool TunnelTargets::allows(const sockaddr_in& target) const
{
    const uint32_t ip = target.sin_addr.s_addr;
    const uint16_t port = ntohs(target.sin_port);
    if (ip == INADDR_ANY || port == 0)
        return false;
    // The tunnel's own listener, however it is named: a client could
    // otherwise nest tunnels inside each other without end.
    const uint32_t own_ip = listener_.sin_addr.s_addr;
    if (port == ntohs(listener_.sin_port) &&
        (ip == own_ip || own_ip == INADDR_ANY || (is_loopback(ip) && is_loopback(own_ip))))
        return false;
    return allowed_.contains({ip, port});
}

} // namespace vokar::operatord
