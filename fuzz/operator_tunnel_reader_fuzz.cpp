// The tunnel service's client stream reader: any bytes, split at any points,
// give the same items as when read whole, and never a frame outside the
// length bounds or a buffer past one frame plus one read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/operator/services/tunnel_protocol.h"

namespace {

using vokar::operatord::tunnel::StreamReader;
namespace tunnel = vokar::operatord::tunnel;

// Appends each item as text; stops at kNeedMore or an error. True after an
// error, which must then be final.
bool drain(StreamReader& reader, std::string& log)
{
    for (;;) {
        const auto item = reader.next();
        if (item.kind == StreamReader::Kind::kFrame) {
            if (item.payload.size() > vokar::kTunnelMaxPayload)
                __builtin_trap();
            log += 'F';
            log += static_cast<char>(item.type);
            log += std::to_string(item.payload.size()) + ":";
            log.append(item.payload);
            continue;
        }
        log += static_cast<char>('0' + static_cast<int>(item.kind));
        if (item.kind == StreamReader::Kind::kNeedMore)
            return false;
        if (item.kind != StreamReader::Kind::kRequest) {
            reader.append("CONNECT x\r\n\r\n");
            if (reader.next().kind != item.kind)
                __builtin_trap();
            return true;
        }
    }
}

std::string read(std::string_view bytes, std::string_view cuts)
{
    StreamReader reader;
    std::string log;
    size_t cut = 0;
    while (!bytes.empty()) {
        const size_t n =
            cuts.empty() ? bytes.size() : 1 + static_cast<uint8_t>(cuts[cut++ % cuts.size()]) * 7;
        reader.append(bytes.substr(0, n));
        bytes.remove_prefix(std::min(n, bytes.size()));
        std::string items;
        const bool failed = drain(reader, items);
        // A pause for more input is not an item.
        if (!failed)
            items.pop_back();
        log += items;
        if (failed)
            return log;
        if (reader.buffered() > vokar::kTunnelMaxFrame + 256 * 7)
            __builtin_trap();
    }
    drain(reader, log);
    return log;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first byte says how many following bytes choose the split points.
    if (size == 0)
        return 0;
    const size_t cut_count = std::min<size_t>(data[0] % 16, size - 1);
    const std::string_view cuts(reinterpret_cast<const char*>(data + 1), cut_count);
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1 + cut_count),
                                 size - 1 - cut_count);
    if (read(bytes, {}) != read(bytes, cuts))
        __builtin_trap();
    return 0;
}
