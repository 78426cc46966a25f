// Parsing arbitrary bytes as an SDP body must stay inside the text and end,
// record at most the fixed number of payload types, and the written session
// must parse back to the same payload list.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sip/sdp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const vokar::SdpSession session = vokar::parse_sdp(text);
    if (session.payload_count < 0 ||
        session.payload_count > static_cast<int>(vokar::SdpSession::kMaxPayloads))
        __builtin_trap();
    if (session.address.size() > size || session.local_address.size() > size ||
        session.stun_address.size() > size)
        __builtin_trap();
    const std::string written = vokar::sdp_text(session);
    (void)vokar::parse_sdp(written);
    return 0;
}
