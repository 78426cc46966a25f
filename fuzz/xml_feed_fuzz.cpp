// Bytes fed one at a time the way the XMPP client reads a stream: a document
// is dropped and a new one started whenever it completes or fails.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "xml/xml_node.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using Result = vokar::XmlNode::FeedResult;
    auto doc = vokar::XmlNode::new_document();
    for (size_t i = 0; i < size; ++i) {
        const Result r = doc->feed(static_cast<char>(data[i]));
        if (r == Result::Failed) {
            doc = vokar::XmlNode::new_document();
            continue;
        }
        // The incremental answer must match a full walk of the tree.
        if ((r == Result::Complete) != doc->is_complete())
            __builtin_trap();
        if (r == Result::Complete) {
            (void)doc->find_element("query");
            (void)doc->serialize();
            doc = vokar::XmlNode::new_document();
        }
    }
    return 0;
}
