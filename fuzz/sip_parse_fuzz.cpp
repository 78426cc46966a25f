// Parsing arbitrary bytes as a SIP datagram must stay inside the text and end;
// every field is a piece of the text, and what a parsed message builds into
// must parse again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sip/sip_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto msg = vokar::parse(text);
    if (!msg)
        return 0;
    if (msg->via_list.size() > size || msg->route_list.size() > size ||
        msg->challenges.size() > size || msg->call_id.size() > size ||
        msg->request_line.size() > size || msg->contact_uri.size() > size)
        __builtin_trap();
    (void)vokar::parse_name_addr(msg->call_id);
    const std::string built = msg->to_text().str();
    if ((!msg->is_request() || !msg->request_line.empty()) && !vokar::parse(built))
        __builtin_trap();
    return 0;
}
