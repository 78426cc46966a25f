#include "core/address_discovery.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/random.h"
#include "platform/crt_rand.h"
#include "sip/sip_stack.h"

namespace vokar {

uint16_t wait_for_relay_port(TunnelConnection& tunnel, uint32_t limit_ms)
{
    std::mutex mutex;
    std::condition_variable cv;
    bool reader_done = false;
    std::thread reader([&] {
        std::string data;
        // Stops at the relay port, or when the tunnel closes or is stopped.
        while (tunnel.relay_port() == 0 && tunnel.receive(&data, 2048, true) > 0) {
        }
        std::lock_guard lock(mutex);
        reader_done = true;
        cv.notify_all();
    });
    {
        std::unique_lock lock(mutex);
        cv.wait_for(lock, std::chrono::milliseconds(limit_ms), [&] { return reader_done; });
    }
    const uint16_t port = tunnel.relay_port();
    if (port == 0)
        tunnel.stop(); // ends the reader's receive
    reader.join();
    return port;
}

int MediaAddressFinder::draw_port(int base)
{
    seed_random_once();
    return platform::crt_rand() % 1000 + base;
}

std::optional<ServerEndpoint> MediaAddressFinder::stun_query(const std::string& local, int port)
{
    if (!s_.stun || !s_.stun_server)
        return std::nullopt;
    return s_.stun(local, static_cast<uint16_t>(port), s_.stun_server(), kStunLimitMs);
}

std::vector<TransportAddress> MediaAddressFinder::jingle_addresses(MediaParameters& media)
{
    std::vector<TransportAddress> addresses;
    const std::string local = s_.bearer.local_address();
    const int port = draw_port(8500);
    media.local_address = local;
    media.local_port = port;
    if (!s_.policy.needsTunnel(false)) {
        addresses.push_back({local, "peer", port});
        if (const auto mapped = stun_query(local, port))
            addresses.push_back({mapped->host, "stun", mapped->port});
        addresses.push_back({s_.relay_address, "proxy", s_.relay_port});
        return addresses;
    }
    auto tunnel = std::make_shared<TunnelConnection>(
        TunnelConnection::kRelayUdp, static_cast<uint16_t>(port), static_cast<uint16_t>(port),
        local, [](int, int) {}, s_.policy.prefersConnect(), s_.tunnel);
    if (!tunnel->connect(local))
        return addresses;
    if (const uint16_t relay = wait_for_relay_port(*tunnel, kRelayLimitMs)) {
        addresses.push_back({s_.relay_address, "proxy", relay});
        media.tunnel = tunnel;           // its media channels carry the voice
        media.relay = std::move(tunnel); // open for as long as the call lasts
    }
    return addresses;
}

void MediaAddressFinder::sip_addresses(SipStackInterface& stack, MediaParameters& media)
{
    const std::string local = s_.bearer.local_address();
    media.local_address = local;
    if (!s_.policy.needsTunnel(false)) {
        const int port = draw_port(8500);
        media.local_port = port;
        stack.set_rtp_port(port);
        if (const auto mapped = stun_query(local, port)) {
            stack.set_stun_address(mapped->host, mapped->port);
        } else {
            media.local_port = port + 1;
            stack.set_rtp_port(port + 1);
        }
        return;
    }
    if (!s_.make_connection)
        return;
    std::shared_ptr<ConnectionInterface> connection =
        s_.make_connection(local, false, false, [](int, int) {});
    if (!connection)
        return;
    connection->open(static_cast<uint16_t>(draw_port(6500)),
                     static_cast<uint16_t>(s_.sip_relay_port), s_.sip_relay_address, false);
    const auto tunnel = connection->uses_tunnel() ? connection->tunnel() : nullptr;
    if (!tunnel)
        return;
    if (const uint16_t relay = wait_for_relay_port(*tunnel, kRelayLimitMs)) {
        stack.set_stun_address(s_.sip_relay_address, relay);
        stack.set_local_address(s_.sip_relay_address, relay);
        media.tunnel = tunnel;
        media.relay = std::move(connection);
    }
}

} // namespace vokar
