#include "media/tunnel_channels.h"

namespace vokar::media {

void TunnelChannels::send_frame(uint8_t type, std::string_view data)
{
    tunnel_.sendFrame(type, data.data(), data.size());
}

bool TunnelChannels::receive_frame(uint8_t* type, std::string* data, size_t maximum)
{
    for (;;) {
        uint8_t frame_type = 0;
        if (!tunnel_.receive_frame(&frame_type, data, maximum))
            return false;
        if (frame_type >= TunnelConnection::kFirstChannel &&
            frame_type <= TunnelConnection::kLastChannel) {
            *type = frame_type;
            return true;
        }
    }
}

void TunnelChannels::close()
{
    tunnel_.stop();
}

} // namespace vokar::media
