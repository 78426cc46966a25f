// Any vCard text reads without crashing, within the per-contact number limit.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/address_book.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto contacts =
        vokar::platform::parse_vcards(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const auto& contact : contacts)
        if (contact.numbers.size() > vokar::platform::kMaxNumbersPerContact)
            __builtin_trap();
    return 0;
}
