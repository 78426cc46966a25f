#include "xmpp/session_context.h"

namespace vokar {

std::unique_ptr<XmlNode>
SessionContext::new_iq(std::initializer_list<std::pair<const char*, std::string>> attributes)
{
    auto iq = std::make_unique<XmlNode>("iq");
    iq->add_attribute("id", next_id());
    for (const auto& [name, value] : attributes)
        iq->add_attribute(name, value);
    return iq;
}

std::string attribute_or_empty(const XmlNode& node, std::string_view name)
{
    const std::string* v = node.attribute_value(name);
    return v ? *v : std::string();
}

} // namespace vokar
