// The tunnel's `tunnel_allowed_targets` value on any text: every entry it
// accepts is a non-empty host without separators, shorter than the text,
// and a port from 1 to 65535; a refusal always says why.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/operator/services/tunnel_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 64 * 1024)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto entries = vokar::operatord::TunnelTargets::parse_list(text, &error);
    if (!entries) {
        if (error.empty())
            __builtin_trap();
        return 0;
    }
    for (const auto& [host, port] : *entries) {
        if (host.empty() || port == 0 || host.size() >= size ||
            host.find_first_of(" \t,") != std::string::npos)
            __builtin_trap();
    }
    return 0;
}
