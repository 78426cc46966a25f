// operator.conf parsing never crashes and, when it succeeds, every port is valid.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/operator_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string error;
    const auto config = vokar::platform::OperatorConfig::parse(
        std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.conf", &error);
    if (config && (config->sip_port == 0 || config->xmpp_port == 0))
        __builtin_trap();
    if (!config && error.empty())
        __builtin_trap();
    return 0;
}
