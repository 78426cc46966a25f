#include "net/tunnel_connection.h"

#include <algorithm>

#include "base/scan_string.h"
#include "platform/socket.h"

namespace vokar {

TunnelConnection::TunnelConnection(uint8_t relay_kind, uint16_t local_port, uint16_t target_port,
                                   std::string local_address, SocketErrorCallback on_error,
                                   bool connect_mode, TunnelServer server, platform::Clock& clock)
    : relay_kind_(relay_kind), target_port_(target_port), connect_mode_(connect_mode),
      server_(std::move(server)), clock_(clock), on_error_(std::move(on_error)),
      socket_(local_port, server_.port, std::move(local_address),
              [this](int kind, int error) { report_socket_error(kind, error); })
{
}

void TunnelConnection::report_socket_error(int kind, int error)
{
    if (!on_error_)
        return;
    if (!handshake_done_) {
        on_error_(kSocketErrorTunnel, error);
    } else if (!target_connected_) {
        // The server closes the tunnel when it cannot reach the target.
        if (!target_refused_.exchange(true))
            on_error_(kSocketErrorConnect, platform::kWsaEconnrefused);
    } else {
        on_error_(kind, error);
    }
}

bool TunnelConnection::connect(const std::string& target_host)
{
    target_host_ = target_host;
    if (!socket_.connect(server_.host))
        return false;
    connect_tick_ = clock_.tick_count();
    const std::string request = std::string(connect_mode_ ? "CONNECT " : "NOOB CONNECT ") +
                                server_.host + ":" + std::to_string(server_.port) +
                                " HTTP/1.1\r\n\r\n";
    std::lock_guard lock(send_mutex_);
    socket_.send(request.data(), request.size());
    socket_.send(request.data(), request.size());
    return true;
}

void TunnelConnection::send_raw(const std::string& bytes)
{
    socket_.send(bytes.data(), bytes.size());
}

std::string TunnelConnection::data_frames(uint8_t type, std::string_view payload)
{
    if (payload.size() <= kTunnelMaxPayload)
        return encode_tunnel_frame(type, payload);
    // A stream may be cut anywhere: the target sees the same bytes.
    std::string frames;
    frames.reserve(payload.size() + (payload.size() / kTunnelMaxPayload + 1) * kTunnelFrameHeader);
    while (!payload.empty()) {
        const size_t n = std::min(payload.size(), kTunnelMaxPayload);
        frames += encode_tunnel_frame(type, payload.substr(0, n));
        payload.remove_prefix(n);
    }
    return frames;
}

bool TunnelConnection::fits_one_frame(size_t length)
{
    if (length <= kTunnelMaxPayload)
        return true;
    // The server refuses longer frames and would close the tunnel; a
    // datagram cannot be cut, so it fails here as an oversize send.
    if (on_error_)
        on_error_(kSocketErrorSend, platform::kWsaEmsgsize);
    return false;
}

void TunnelConnection::send(const void* data, size_t length)
{
    if (relay_kind_ == kRelayUdp && !fits_one_frame(length))
        return;
    std::lock_guard lock(send_mutex_);
    const std::string_view payload(static_cast<const char*>(data), length);
    if (target_connected_)
        send_raw(data_frames(kFrameClientData, payload));
    else
        pending_.push_back({kFrameClientData, std::string(payload)});
}

bool TunnelConnection::try_send(const void* data, size_t length)
{
    if (relay_kind_ == kRelayUdp && !fits_one_frame(length))
        return false;
    std::unique_lock lock(send_mutex_, std::try_to_lock);
    if (!lock)
        return false;
    const std::string_view payload(static_cast<const char*>(data), length);
    if (!target_connected_) {
        pending_.push_back({kFrameClientData, std::string(payload)});
        return true;
    }
    const std::string frames = data_frames(kFrameClientData, payload);
    if (!socket_.can_send_now(frames.size()))
        return false;
    send_raw(frames);
    return true;
}

void TunnelConnection::sendFrame(uint8_t type, const void* data, size_t length)
{
    if (!fits_one_frame(length))
        return;
    std::lock_guard lock(send_mutex_);
    send_raw(encode_tunnel_frame(type, std::string_view(static_cast<const char*>(data), length)));
}

void TunnelConnection::flush_pending()
{
    std::lock_guard lock(send_mutex_);
    target_connected_ = true;
    while (!pending_.empty()) {
        send_raw(data_frames(pending_.front().type, pending_.front().payload));
        pending_.pop_front();
    }
}

bool TunnelConnection::wait_for_handshake_data()
{
    for (;;) {
        if (static_cast<uint32_t>(clock_.tick_count() - connect_tick_) >= kHandshakeTimeoutMs) {
            socket_.close();
            if (on_error_)
                on_error_(kSocketErrorTunnel, platform::kWsaEtimedout);
            return false;
        }
        const int ready = socket_.wait_readable(100);
        if (ready > 0)
            return true;
        if (ready < 0 || !socket_.connected())
            return false;
    }
}

bool TunnelConnection::process_frames(bool stop_at_relay_port)
{
    TunnelFrame frame;
    while (reader_.next(frame)) {
        if (frame.type == kFrameData ||
            (frame.type >= kFirstChannel && frame.type <= kLastChannel)) {
            received_.push_back(std::move(frame));
        } else if (frame.type == kFrameOpen) {
            flush_pending();
        } else if (frame.type == kFrameClientData) {
            relay_port_ = static_cast<uint16_t>(ScanString(frame.payload).to_int());
            flush_pending();
            if (stop_at_relay_port)
                return true;
        }
        // Type 50 and unknown types are dropped.
    }
    return false;
}

bool TunnelConnection::next_frame(TunnelFrame* out, size_t maximum, bool stop_at_relay_port)
{
    std::string chunk;
    for (;;) {
        if (!received_.empty()) {
            *out = std::move(received_.front());
            received_.pop_front();
            last_frame_type_ = out->type;
            return true;
        }
        // Frames left over from an earlier read come before new reads.
        if (handshake_done_) {
            if (process_frames(stop_at_relay_port))
                break;
            if (!received_.empty())
                continue;
            if (reader_.failed()) {
                if (socket_.connected()) {
                    socket_.close();
                    if (on_error_)
                        on_error_(kSocketErrorReceive, platform::kWsaEconnaborted);
                }
                break;
            }
        }
        if (!socket_.connected())
            break;
        if (!handshake_done_ && !wait_for_handshake_data())
            break;
        if (socket_.receive(&chunk, maximum) <= 0)
            break;
        if (!handshake_done_) {
            // Any chunk holding "200" completes the handshake; the rest of
            // that chunk, and every chunk before it, is discarded.
            if (chunk.find("200") == std::string::npos)
                continue;
            handshake_done_ = true;
            std::string open = relay_kind_ == kRelayTcp ? "2\n" : "1\n";
            open += target_host_ + "\n" + std::to_string(target_port_);
            sendFrame(kFrameOpen, open.data(), open.size());
            continue;
        }
        reader_.feed(chunk);
    }
    return false;
}

int TunnelConnection::receive(std::string* out, size_t maximum, bool stop_at_relay_port)
{
    TunnelFrame frame;
    if (!next_frame(&frame, maximum, stop_at_relay_port)) {
        out->clear();
        return 0;
    }
    *out = std::move(frame.payload);
    return static_cast<int>(out->size());
}

bool TunnelConnection::receive_frame(uint8_t* type, std::string* out, size_t maximum)
{
    TunnelFrame frame;
    if (!next_frame(&frame, maximum, false))
        return false;
    *type = frame.type;
    *out = std::move(frame.payload);
    if (out->size() > maximum)
        out->resize(maximum);
    return true;
}

void TunnelConnection::stop()
{
    socket_.close();
}

} // namespace vokar
