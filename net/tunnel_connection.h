#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "base/tunnel_frames.h"
#include "net/sockets.h"
#include "platform/clock.h"

namespace vokar {

// A fourth SocketErrorKind: the tunnel server could not be reached, or did
// not answer the tunnel request. The target behind it is not at fault.
constexpr int kSocketErrorTunnel = 3;

// The operator's tunnel server.
struct TunnelServer {
    std::string host;
    uint16_t port = 80;
};

// Reaches a service through the operator's tunnel server when only web
// traffic gets out: one TCP connection opened with an HTTP CONNECT-style
// request, then length-prefixed frames both ways. The first frame names the
// target and how the server relays to it (UDP or TCP).
//
// Failures go to the error callback by whose fault they are: reaching the
// tunnel server and its answer to the request are the tunnel's
// (kSocketErrorTunnel, with the Winsock error); a tunnel the server ends
// before it confirms the target means the target cannot be reached
// (kSocketErrorConnect, kWsaEconnrefused); after the confirmation, errors
// are reported as on a direct connection.
class TunnelConnection {
public:
    enum RelayKind : uint8_t { kRelayUdp = 0, kRelayTcp = 1 };
    // Frame types.
    static constexpr uint8_t kFrameData = 0;       // server -> client data
    static constexpr uint8_t kFrameOpen = 1;       // client: open; server: target connected
    static constexpr uint8_t kFrameClientData = 2; // client: data; server: relay port
    static constexpr uint8_t kFrameAnnounce = 50;  // server: ignored
    static constexpr uint8_t kFirstChannel = 51;
    static constexpr uint8_t kLastChannel = 127;
    // A server that has not answered the request by then is given up on.
    static constexpr uint32_t kHandshakeTimeoutMs = 30000;

    // `connect_mode`: send "CONNECT " instead of "NOOB CONNECT ".
    TunnelConnection(uint8_t relay_kind, uint16_t local_port, uint16_t target_port,
                     std::string local_address, SocketErrorCallback on_error, bool connect_mode,
                     TunnelServer server, platform::Clock& clock = platform::system_clock());
    TunnelConnection(const TunnelConnection&) = delete;
    TunnelConnection& operator=(const TunnelConnection&) = delete;

    // Connects to the tunnel server and sends the request (twice). The target
    // is named in the open frame once the server has answered with "200".
    bool connect(const std::string& target_host);
    // Data for the target: sent at once when the target is connected, else
    // queued and sent, in order, when the server confirms it. A TCP relay's
    // data longer than one frame goes out in several; a UDP relay's datagram
    // that does not fit one frame is reported as a send error
    // (kSocketErrorSend, kWsaEmsgsize) and dropped.
    void send(const void* data, size_t length);
    // As send, but only when that takes no waiting (no other send under way,
    // and the socket can take the frames now); false, with nothing sent, else.
    bool try_send(const void* data, size_t length);
    // One frame; a payload over kTunnelMaxPayload is refused as in send().
    void sendFrame(uint8_t type, const void* data, size_t length);

    // The next payload for the caller (types 0 and 51..127), read from the
    // server as needed. Returns its length, or 0 once the connection is
    // closed, fails, times out in the handshake, breaks the framing, or
    // (when asked) the relay port has arrived.
    int receive(std::string* out, size_t maximum, bool stop_at_relay_port);
    // As receive, one frame at a time with its type (kFrameData, or a media
    // channel kFirstChannel..kLastChannel), the payload cut to `maximum`
    // bytes; an empty payload is a frame too. False once receive would
    // return 0 for the end of the connection.
    bool receive_frame(uint8_t* type, std::string* out, size_t maximum);
    // Ends a blocked receive; the tunnel is unusable afterwards.
    void stop();

    uint16_t relay_port() const { return relay_port_; }
    bool target_connected() const { return target_connected_; }
    bool handshake_done() const { return handshake_done_; }
    uint8_t last_frame_type() const { return last_frame_type_; }
    bool connect_mode() const { return connect_mode_; }

private:
    void send_raw(const std::string& bytes);
    // As many frames of `type` as the payload needs, in one piece.
    static std::string data_frames(uint8_t type, std::string_view payload);
    bool fits_one_frame(size_t length);
    void flush_pending();
    bool wait_for_handshake_data();
    // The next frame for the caller; false at the end of the connection.
    bool next_frame(TunnelFrame* out, size_t maximum, bool stop_at_relay_port);
    // Handles buffered frames; true when it stopped at the relay port.
    bool process_frames(bool stop_at_relay_port);
    // The socket's failures, attributed as the class comment says.
    void report_socket_error(int kind, int error);

    const uint8_t relay_kind_;
    const uint16_t target_port_;
    const bool connect_mode_;
    const TunnelServer server_;
    platform::Clock& clock_;
    SocketErrorCallback on_error_;
    TcpSocket socket_;
    std::string target_host_;
    uint32_t connect_tick_ = 0;

    std::atomic<bool> target_connected_{false};
    std::atomic<bool> handshake_done_{false};
    std::atomic<uint16_t> relay_port_{0};
    std::atomic<uint8_t> last_frame_type_{0};
    std::atomic<bool> target_refused_{false}; // reported once

    TunnelFrameReader reader_;         // receive side only
    std::deque<TunnelFrame> received_; // receive side only
    std::mutex send_mutex_;            // pending queue and socket writes
    std::deque<TunnelFrame> pending_;
};

} // namespace vokar
