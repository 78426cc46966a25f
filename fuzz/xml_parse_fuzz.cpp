// Whole-string parse of arbitrary bytes, as a stream and as a stored file; the
// serialized tree must parse again.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "xml/xml_node.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto syntax : {vokar::XmlNode::Syntax::kStream, vokar::XmlNode::Syntax::kFile}) {
        auto doc = vokar::XmlNode::parse(text, syntax);
        if (!doc)
            continue;
        (void)doc->is_complete();
        (void)doc->find_element("body");
        const std::string xml = doc->serialize();
        auto again = vokar::XmlNode::parse(xml, syntax);
        if (again)
            (void)again->serialize();
    }
    return 0;
}
