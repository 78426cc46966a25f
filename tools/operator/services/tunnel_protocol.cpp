#include "tools/operator/services/tunnel_protocol.h"

#include <algorithm>

#include "platform/operator_config.h"

namespace vokar::operatord::tunnel {
namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";

// True while `bytes` can still be the start of a request with either method.
bool could_be_request(std::string_view bytes)
{
    for (std::string_view method : {kPlainMethod, kConnectMethod}) {
        const size_t n = std::min(bytes.size(), method.size());
        if (bytes.substr(0, n) == method.substr(0, n))
            return true;
    }
    return false;
}

} // namespace

std::optional<Destination> parse_destination(std::string_view payload)
{
    const auto nl = payload.find('\n');
    if (nl == std::string_view::npos || nl == 0)
        return std::nullopt;
    const std::string_view host = payload.substr(0, nl);
    if (host.find('\0') != std::string_view::npos)
        return std::nullopt;
    // The port may end with line-end blanks.
    std::string_view port_text = payload.substr(nl + 1);
    port_text = port_text.substr(0, port_text.find_last_not_of(" \t\r\n") + 1);
    const auto port = platform::parse_port(port_text);
    if (!port)
        return std::nullopt;
    return Destination{std::string(host), *port};
}

std::optional<OpenRequest> parse_open(std::string_view payload)
{
    if (payload.size() < 2 || payload[1] != '\n' || (payload[0] != '1' && payload[0] != '2'))
        return std::nullopt;
    auto target = parse_destination(payload.substr(2));
    if (!target)
        return std::nullopt;
    return OpenRequest{payload[0] == '1' ? RelayKind::kUdp : RelayKind::kTcp, std::move(*target)};
}

void StreamReader::append(std::string_view bytes)
{
    if (error_)
        return;
    if (offset_ > 0) {
        buffer_.erase(0, offset_);
        offset_ = 0;
    }
    buffer_.append(bytes);
}

void StreamReader::release()
{
    if (buffered() == 0) {
        std::string().swap(buffer_);
        offset_ = 0;
    }
}

StreamReader::Item StreamReader::fail(Kind kind)
{
    error_ = kind;
    buffer_.clear();
    offset_ = 0;
    return Item{kind, 0, {}};
}

StreamReader::Item StreamReader::take_request()
{
    const std::string_view pending = std::string_view(buffer_).substr(offset_);
    const auto end = pending.substr(0, kMaxRequestSize).find(kBlankLine);
    if (end == std::string_view::npos || end + kBlankLine.size() > kMaxRequestSize) {
        if (pending.size() >= kMaxRequestSize)
            return fail(Kind::kRequestTooLong);
        return Item{Kind::kNeedMore, 0, {}};
    }
    offset_ += end + kBlankLine.size();
    phase_ = Phase::kBeforeFirstFrame;
    return Item{Kind::kRequest, 0, {}};
}

StreamReader::Item StreamReader::next()
{
    if (error_)
        return Item{*error_, 0, {}};
    const std::string_view pending = std::string_view(buffer_).substr(offset_);
    const bool request_like = could_be_request(pending);
    if (phase_ == Phase::kFirstRequest) {
        if (!request_like)
            return fail(Kind::kBadMethod);
        return take_request();
    }
    if (phase_ == Phase::kBeforeFirstFrame && request_like)
        return take_request();

    const auto length = tunnel_frame_length(pending);
    if (!length)
        return Item{Kind::kNeedMore, 0, {}};
    if (*length == 0)
        return fail(Kind::kBadFrameLength);
    if (pending.size() < *length)
        return Item{Kind::kNeedMore, 0, {}};
    phase_ = Phase::kFrames;
    offset_ += *length;
    return Item{Kind::kFrame, static_cast<uint8_t>(pending[4]),
                pending.substr(kTunnelFrameHeader, *length - kTunnelFrameHeader)};
}

} // namespace vokar::operatord::tunnel
