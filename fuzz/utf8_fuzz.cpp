// Any bytes convert to wide text and back; valid UTF-8 survives the round trip.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string in(reinterpret_cast<const char*>(data), size);
    const std::wstring wide = vokar::platform::to_wide(in);
    if (wide.size() > in.size())
        __builtin_trap();
    const std::string back = vokar::platform::to_utf8(wide);
    // The converted text is valid UTF-8, so a second pass changes nothing.
    if (vokar::platform::to_utf8(vokar::platform::to_wide(back)) != back)
        __builtin_trap();
    return 0;
}
