// Peak heap of the incremental parser. The input is a length byte, a prefix of
// that length and a piece; the stream fed is the prefix followed by the piece
// repeated up to kStream bytes, so a few bytes describe a worst case (a quarter
// mebibyte of tiny elements, attributes or text: well past the element and
// attribute limits, and still quick to feed). As in the XMPP client, a
// complete document is dropped and the next one started, and a failed one
// ends the stream. The live heap above the level at the start may never pass
// kBound.
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "xml/xml_node.h"

namespace {

constexpr size_t kStream = 256 << 10;
constexpr size_t kBound = 4 << 20; // bytes above the level at the start

std::atomic<size_t> live{0};
std::atomic<size_t> peak{0};

void on_malloc(const volatile void*, size_t size)
{
    const size_t now = live.fetch_add(size, std::memory_order_relaxed) + size;
    size_t seen = peak.load(std::memory_order_relaxed);
    while (now > seen && !peak.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
    }
}

void on_free(const volatile void* p)
{
    // Called before the block is released, so its size is still known.
    if (p)
        live.fetch_sub(__sanitizer_get_allocated_size(const_cast<const void*>(p)),
                       std::memory_order_relaxed);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (!__sanitizer_install_malloc_and_free_hooks(on_malloc, on_free))
        std::abort(); // needs a sanitizer's allocator (build with ASan)
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t prefix_size = std::min<size_t>(data[0], size - 2);
    const std::string prefix(reinterpret_cast<const char*>(data + 1), prefix_size);
    const std::string piece(reinterpret_cast<const char*>(data + 1 + prefix_size),
                            size - 1 - prefix_size);

    const size_t start = live.load(std::memory_order_relaxed);
    peak.store(start, std::memory_order_relaxed);
    {
        auto doc = vokar::XmlNode::new_document();
        const auto feed = [&doc](char c) {
            const auto r = doc->feed(c);
            if (r == vokar::XmlNode::FeedResult::Complete)
                doc = vokar::XmlNode::new_document();
            return r != vokar::XmlNode::FeedResult::Failed;
        };
        bool going = true;
        for (size_t i = 0; going && i < prefix.size(); ++i)
            going = feed(prefix[i]);
        for (size_t fed = prefix.size(); going && fed < kStream; fed += piece.size())
            for (size_t i = 0; going && i < piece.size(); ++i)
                going = feed(piece[i]);
    }
    if (peak.load(std::memory_order_relaxed) - start > kBound)
        __builtin_trap();
    return 0;
}
