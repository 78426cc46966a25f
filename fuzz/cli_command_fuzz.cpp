// Any bytes on the headless client's stdin: lines stay bounded, every line
// parses or is refused, and its JSON form is valid UTF-8 without raw
// control characters.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/command.h"
#include "cli/json.h"
#include "cli/line_io.h"

namespace {

constexpr size_t kMaxLine = 512;

void check(const vokar::cli::LineSplitter::Line& line)
{
    if (line.text.size() > kMaxLine)
        __builtin_trap();
    const auto parsed = vokar::cli::parse_command(line.text);
    if (!parsed.command && parsed.error.empty())
        __builtin_trap();
    const std::string json = vokar::cli::json_string(line.text);
    for (size_t at = 0; at < json.size();) {
        const auto c = static_cast<unsigned char>(json[at]);
        const size_t n = vokar::cli::utf8_sequence(json, at);
        if (c < 0x20 || n == 0)
            __builtin_trap();
        at += n;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    vokar::cli::LineSplitter splitter(kMaxLine);
    for (size_t i = 0; i < size; ++i)
        if (auto line = splitter.feed(static_cast<char>(data[i])))
            check(*line);
    if (auto line = splitter.finish())
        check(*line);
    return 0;
}
