// Any datagram is either rejected or read as a mapping from a message whose
// length field matches what arrived.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "net/stun.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view answer(reinterpret_cast<const char*>(data), size);
    const auto mapping = vokar::parse_stun_answer(answer);
    if (mapping && (size < 20 || ((size_t{data[2]} << 8) | data[3]) != size - 20 ||
                    mapping->address.size() > 15))
        __builtin_trap();
    return 0;
}
