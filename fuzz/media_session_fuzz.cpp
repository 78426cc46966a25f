// Received datagrams through the media session's receive path over the
// tunnel's media channels: each input is a run of frames (channel byte,
// length byte, data). Every frame is classified, may confirm a destination,
// and a packet is sent after it, so the destination states are exercised with
// hostile channel numbers and lengths.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "media/media_session.h"

namespace {

class InputChannels final : public vokar::media::MediaChannels {
public:
    explicit InputChannels(std::string_view input) : input_(input) {}
    void send_frame(uint8_t, std::string_view data) override { sent_ += data.size(); }
    bool receive_frame(uint8_t* type, std::string* data, size_t maximum) override
    {
        if (input_.size() < 2)
            return false;
        *type = static_cast<uint8_t>(input_[0]);
        const size_t length = std::min<size_t>(static_cast<uint8_t>(input_[1]), input_.size() - 2);
        *data = std::string(input_.substr(2, std::min(length, maximum)));
        input_.remove_prefix(2 + length);
        return true;
    }
    void close() override { input_ = {}; }

private:
    std::string_view input_;
    size_t sent_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using vokar::media::MediaSession;
    InputChannels channels(std::string_view(reinterpret_cast<const char*>(data), size));
    MediaSession session({{"", 0}, {"203.0.113.1", 5000}, {"10.0.0.5", 4000}, {"", 0}}, "192.0.2.1",
                         &channels);
    if (!session.open())
        return 0;
    std::string packet;
    const std::string voice(12 + 99, '\x80');
    while (session.receive(&packet) != MediaSession::Received::kClosed) {
        if (packet.size() > MediaSession::kMaxDatagram)
            __builtin_trap();
        session.send(voice);
    }
    return 0;
}
