// Tokenising and scanning arbitrary bytes must stay inside the text and end.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/scan_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the extra delimiters, the rest is the text.
    const std::string extra = (data[0] & 1) ? ":@<>=" : "";
    vokar::ScanString s(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    int guard = 0;
    while (!s.next_token(extra).empty())
        if (++guard > s.length() + 1)
            __builtin_trap();
    s.rewind();
    s.skip_blanks();
    std::string taken;
    while (!s.at_end())
        s.take(taken);
    (void)s.to_int();
    (void)s.find("\r\n\r\n", data[0]);
    (void)s.substr(data[0] - 128, static_cast<int>(size));
    (void)s.replace_all("\r\n", "\n").to_lower();
    return 0;
}
