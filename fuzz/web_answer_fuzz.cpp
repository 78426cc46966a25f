// The web answer reader on arbitrary server bytes cut into arbitrary chunks
// and ended by an orderly close, a reset or nothing: it never holds more than
// its cap, never completes without a 200 status line, and once it has ended,
// further chunks and closes change nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "webapi/web_answer_reader.h"

using vokar::WebAnswerReader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte seeds the chunk sizes and picks the ending.
    uint32_t state = data[0] | 1u;
    const int ending = data[0] % 3;
    std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string_view whole = stream;
    WebAnswerReader reader;
    while (!stream.empty() && reader.state() == WebAnswerReader::State::Reading) {
        state = state * 1103515245u + 12345u;
        const size_t piece = std::min<size_t>(stream.size(), 1 + (state >> 16) % 5000);
        reader.feed(stream.substr(0, piece));
        stream.remove_prefix(piece);
    }
    if (ending != 2)
        reader.close(ending == 0);
    const WebAnswerReader::State end = reader.state();
    const std::string body(reader.body());
    if (end == WebAnswerReader::State::Complete) {
        if (whole.substr(0, 7) != "HTTP/1." || whole.substr(8, 4) != " 200")
            __builtin_trap();
        if (body.size() > WebAnswerReader::kMaxAnswerBytes)
            __builtin_trap();
        // The body is the bytes right after the first blank line.
        const size_t start = whole.find("\r\n\r\n");
        if (start == std::string_view::npos || whole.substr(start + 4, body.size()) != body)
            __builtin_trap();
    } else if (!body.empty()) {
        __builtin_trap();
    }
    if (end != WebAnswerReader::State::Reading) {
        reader.feed("more");
        reader.close(true);
        if (reader.state() != end || reader.body() != body)
            __builtin_trap();
    }
    return 0;
}
