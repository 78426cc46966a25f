// The web service's request reading on any bytes: the head is found at the
// same place however the bytes are split, within what was received, and
// parsing it either gives a request or a 400/505 status, never both.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tools/operator/services/http_request.h"

namespace {

using namespace vokar::operatord;

// The head's length when `bytes` arrive in pieces whose sizes come from
// `cuts` (whole when it is empty); 0 when no head ends in them.
size_t head_length(std::string_view bytes, std::string_view cuts)
{
    RequestHeadScanner scanner;
    size_t received = 0;
    size_t cut = 0;
    while (received < bytes.size()) {
        received = cuts.empty()
                       ? bytes.size()
                       : std::min(bytes.size(),
                                  received + 1 + static_cast<uint8_t>(cuts[cut++ % cuts.size()]));
        if (const size_t length = scanner.scan(bytes.substr(0, received))) {
            if (length > received || bytes[length - 1] != '\n')
                __builtin_trap();
            return length;
        }
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first byte says how many following bytes choose the split points.
    if (size == 0 || size > 2 * kMaxRequestHead)
        return 0;
    const size_t cut_count = std::min<size_t>(data[0] % 16, size - 1);
    const std::string_view cuts(reinterpret_cast<const char*>(data + 1), cut_count);
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1 + cut_count),
                                 size - 1 - cut_count);
    const size_t length = head_length(bytes, {});
    if (head_length(bytes, cuts) != length)
        __builtin_trap();

    // The service parses whatever head it found, or all it has at its limit.
    const std::string_view head = bytes.substr(0, length ? length : bytes.size());
    int status = 0;
    const auto request = parse_request_head(head, &status);
    if (request) {
        if (status != 0 || request->method.empty() ||
            (request->minor_version != 0 && request->minor_version != 1))
            __builtin_trap();
        if (const auto parameters = decode_query(request->query)) {
            for (const auto& [key, value] : *parameters)
                if (key.size() + value.size() > request->query.size())
                    __builtin_trap();
        }
    } else if (status != 400 && status != 505) {
        __builtin_trap();
    }
    return 0;
}
