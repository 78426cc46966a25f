// Whole-string parse of arbitrary bytes; the serialized tree must parse again.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "xml/xml_node.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto doc = vokar::XmlNode::parse(text);
    if (!doc)
        return 0;
    (void)doc->is_complete();
    (void)doc->find_element("body");
    const std::string xml = doc->serialize();
    auto again = vokar::XmlNode::parse(xml);
    if (again)
        (void)again->serialize();
    return 0;
}
