#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/tunnel_frames.h"

namespace vokar::operatord {

// Wire format of the tunnel: an HTTP-style request (sent twice by clients),
// then frames in both directions (the client's codec, base/tunnel_frames.h).
namespace tunnel {

inline constexpr std::string_view kPlainMethod = "NOOB CONNECT ";
inline constexpr std::string_view kConnectMethod = "CONNECT ";
inline constexpr std::string_view kOkResponse = "HTTP/1.1 200 Connection established\r\n\r\n";
inline constexpr std::string_view kBadMethodResponse = "HTTP/1.1 405 Method Not Allowed\r\n\r\n";

inline constexpr size_t kMaxRequestSize = 8 * 1024; // request text up to its blank line

// Frame types. Client to server: kOpen, kClientData, kAnnounce, channels.
// Server to client: kData, kConnected (TCP relay), kRelayPort (UDP relay),
// channels.
inline constexpr uint8_t kData = 0;
inline constexpr uint8_t kOpen = 1;
inline constexpr uint8_t kConnected = 1;
inline constexpr uint8_t kClientData = 2;
inline constexpr uint8_t kRelayPort = 2;
inline constexpr uint8_t kAnnounce = 50;
inline constexpr uint8_t kFirstChannel = 51;
inline constexpr uint8_t kLastChannel = 127;

enum class RelayKind { kUdp, kTcp };

struct Destination {
    std::string host;
    uint16_t port = 0;
};

struct OpenRequest {
    RelayKind kind = RelayKind::kUdp;
    Destination target;
};

// "1\n" (UDP) or "2\n" (TCP), host, "\n", decimal port 1..65535.
std::optional<OpenRequest> parse_open(std::string_view payload);
// "host\nport", the payload of a channel announcement.
std::optional<Destination> parse_destination(std::string_view payload);

// Splits the byte stream a client sends into requests and frames. The first
// request must use one of the two methods; further complete requests before
// the first frame are reported too (clients send theirs twice) so the caller
// can skip them. Request bytes cannot be mistaken for a frame: any three-byte
// prefix of a method read as a length exceeds kTunnelMaxFrame.
class StreamReader {
public:
    enum class Kind {
        kNeedMore,
        kRequest,
        kFrame,
        kBadMethod,      // the first request names neither method
        kRequestTooLong, // no blank line within kMaxRequestSize
        kBadFrameLength, // below kTunnelFrameHeader or above kTunnelMaxFrame
    };
    struct Item {
        Kind kind = Kind::kNeedMore;
        uint8_t type = 0;
        // The frame's payload; valid until the next append().
        std::string_view payload;
    };

    void append(std::string_view bytes);
    // The next complete item. Errors are final: once one is returned, every
    // later call returns it again.
    Item next();
    size_t buffered() const { return buffer_.size() - offset_; }
    // The memory the reader holds; release() gives it back once everything
    // has been taken.
    size_t held() const { return buffer_.capacity(); }
    void release();

private:
    enum class Phase { kFirstRequest, kBeforeFirstFrame, kFrames };

    Item take_request();
    Item fail(Kind kind);

    Phase phase_ = Phase::kFirstRequest;
    std::optional<Kind> error_;
    std::string buffer_;
    size_t offset_ = 0;
};

} // namespace tunnel
} // namespace vokar::operatord
