// The text of /proc/net/route: any bytes give a name from the text or none.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/network.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string name = vokar::platform::default_route_interface(text);
    if (!name.empty() && text.find(name) == std::string_view::npos)
        __builtin_trap();
    return 0;
}
