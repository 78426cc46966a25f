#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "account/server_list.h"
#include "core/bearer.h"
#include "core/call_controller.h"
#include "net/connection_interface.h"
#include "net/tunnel_connection.h"

namespace vokar {

// Waits, at most `limit_ms`, for the relay port of a UDP relay that the
// tunnel's server reports, reading the tunnel on a thread of its own; 0 when
// none came (the tunnel is then stopped).
uint16_t wait_for_relay_port(TunnelConnection& tunnel, uint32_t limit_ms);

// The media addresses of calls: direct when UDP gets out (the local address,
// the address a STUN server sees, the operator's relay on its media port),
// else through a tunnel relay whose port the tunnel server reports.
class MediaAddressFinder final : public AddressDiscovery {
public:
    // The address and port the STUN server saw for a query sent from
    // local_address:local_port; none without an accepted answer in time.
    using StunQuery = std::function<std::optional<ServerEndpoint>(
        const std::string& local_address, uint16_t local_port, const ServerEndpoint& server,
        uint32_t limit_ms)>;

    struct Services {
        const TransportPolicy& policy; // whether UDP needs the tunnel, in which mode
        const Bearer& bearer;          // the local address
        std::function<ServerEndpoint()> stun_server;
        StunQuery stun;
        ConnectionFactory make_connection; // the SIP relay connection
        TunnelServer tunnel;
        std::string relay_address;     // the operator's media relay
        std::string sip_relay_address; // and its SIP relay
        int relay_port = kRelayMediaPort;
        int sip_relay_port = kSipRelayPort;
    };

    static constexpr uint32_t kStunLimitMs = 7000;
    static constexpr uint32_t kRelayLimitMs = 5000;
    // The default ports of the relays; the configuration may move them.
    static constexpr int kRelayMediaPort = 10000;
    static constexpr int kSipRelayPort = 5060;

    explicit MediaAddressFinder(Services services) : s_(std::move(services)) {}

    std::vector<TransportAddress> jingle_addresses(MediaParameters& media) override;
    void sip_addresses(SipStackInterface& stack, MediaParameters& media) override;

    // (rand() mod 1000) + base, after seeding the generator once.
    static int draw_port(int base);

private:
    std::optional<ServerEndpoint> stun_query(const std::string& local, int port);

    Services s_;
};

} // namespace vokar
