#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/datagram_socket.h"

namespace vokar::media {

// One address/port pair from the far end's session description.
struct MediaEndpoint {
    std::string address;
    int port = 0; // -1 counts as 0 (not in use)
};

// The far end's candidates, and where this end binds.
struct MediaEndpoints {
    MediaEndpoint local;  // own bind address and port
    MediaEndpoint stun;   // far end's public address learnt through STUN
    MediaEndpoint lan;    // far end's local address
    MediaEndpoint direct; // far end's connection address, or the relay
};

// Channels of the tunnel connection that carry the packets when only web
// traffic gets out. Call control implements it over the tunnel; frames of
// kFrameAnnounce name a destination, whose packets then travel on the next
// channel number from kFirstChannel on.
class MediaChannels {
public:
    static constexpr uint8_t kFrameAnnounce = 50;
    static constexpr uint8_t kFirstChannel = 51;

    virtual ~MediaChannels() = default;
    virtual void send_frame(uint8_t type, std::string_view data) = 0;
    // Blocks for one frame of at most `maximum` bytes; false once closed.
    virtual bool receive_frame(uint8_t* type, std::string* data, size_t maximum) = 0;
    // Ends a receive_frame blocked on another thread.
    virtual void close() = 0;
};

// Sends voice packets to the far end's candidate destinations and receives
// its packets. The first kSprayPackets go to every candidate; afterwards the
// packets go only to the destinations confirmed by a received voice packet.
class MediaSession {
public:
    enum Destination : int { kStun = 0, kLan = 1, kDirect = 2, kDestinationCount = 3 };
    enum State : uint8_t { kUnused = 0, kStandby = 1, kCandidate = 2, kConfirmed = 3 };
    enum class Received { kVoice, kDropped, kClosed };

    static constexpr int kSprayPackets = 20;
    static constexpr int kRelayPort = 10000;
    static constexpr size_t kMaxDatagram = 512;

    // relay: the service's media relay (its address and configured port),
    // used where the far end's connection address adds nothing. channels:
    // carry the packets over the tunnel instead of UDP (optional, must
    // outlive the session).
    MediaSession(const MediaEndpoints& endpoints, MediaEndpoint relay,
                 MediaChannels* channels = nullptr);
    // The relay at its default port, kRelayPort.
    MediaSession(const MediaEndpoints& endpoints, std::string relay_address,
                 MediaChannels* channels = nullptr)
        : MediaSession(endpoints, MediaEndpoint{std::move(relay_address), kRelayPort}, channels)
    {
    }
    ~MediaSession();
    MediaSession(const MediaSession&) = delete;
    MediaSession& operator=(const MediaSession&) = delete;

    // UDP: binds the local pair (a port in use fails, so the caller can draw
    // another); tunnel: announces the candidates. False leaves it closed.
    bool open();
    // Drops the packet while not open.
    void send(std::string_view packet);
    // Blocks for one datagram of at most kMaxDatagram bytes. kVoice: a voice
    // packet in *packet, whose source confirms its destination. kDropped:
    // anything else (a STUN request, say), which changes nothing. kClosed: the
    // session is closed or the read failed.
    Received receive(std::string* packet);
    // Unblocks a receive on another thread; the session then stays closed.
    void close();

    bool is_open() const;
    State state(Destination d) const;
    MediaEndpoint destination(Destination d) const;
    int packets_out() const;
    uint16_t bound_port() const { return socket_.local_port(); }

private:
    struct Target {
        MediaEndpoint endpoint;
        State state = kUnused;
        uint32_t ip = 0; // network order, resolved at open
        uint8_t channel = 0;
    };

    void confirm(Destination source);

    mutable std::mutex mutex_; // guards targets_, packets_out_ and open_
    std::array<Target, kDestinationCount> targets_;
    MediaEndpoint local_;
    int packets_out_ = 0;
    bool open_ = false;
    bool closed_ = false;
    MediaChannels* const channels_;
    platform::DatagramSocket socket_;
};

} // namespace vokar::media
