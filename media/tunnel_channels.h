#pragma once

#include "media/media_session.h"
#include "net/tunnel_connection.h"

namespace vokar::media {

// The tunnel's media channels for a MediaSession: announcements and
// datagrams go out as frames of the tunnel, and each datagram of a channel
// comes back with its channel number. Data frames of the tunnel's own target
// (kFrameData) are skipped. The tunnel must outlive this object.
class TunnelChannels final : public MediaChannels {
public:
    explicit TunnelChannels(TunnelConnection& tunnel) : tunnel_(tunnel) {}

    void send_frame(uint8_t type, std::string_view data) override;
    bool receive_frame(uint8_t* type, std::string* data, size_t maximum) override;
    // Stops the tunnel, which ends a blocked receive.
    void close() override;

private:
    TunnelConnection& tunnel_;
};

} // namespace vokar::media
