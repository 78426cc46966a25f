// Placeholder until the parser lands.
#include "xml/xml_node.h"

namespace vokar {
class XmlParser {};
XmlNode::XmlNode(std::string n, XmlNode* p, std::string pre) : name(std::move(n)), prefix(std::move(pre)), parent(p) {}
XmlNode::~XmlNode() = default;
std::unique_ptr<XmlNode> XmlNode::new_document() { return std::make_unique<XmlNode>(std::string(kDocumentRootName)); }
XmlNode* XmlNode::add_child(std::string n, std::string p) { children.push_back(std::make_unique<XmlNode>(std::move(n), this, std::move(p))); return children.back().get(); }
size_t XmlNode::add_attribute(std::unique_ptr<XmlAttribute> a) { attributes.push_back(std::move(a)); return attributes.size() - 1; }
size_t XmlNode::add_attribute(std::string n, std::string v, std::string p) { return add_attribute(std::make_unique<XmlAttribute>(std::move(n), std::move(v), std::move(p))); }
XmlNode* XmlNode::find_element(std::string_view) { return nullptr; }
const XmlNode* XmlNode::find_element(std::string_view) const { return nullptr; }
const std::string* XmlNode::attribute_value(std::string_view) const { return nullptr; }
XmlNode::FeedResult XmlNode::feed(char) { return FeedResult::Failed; }
bool XmlNode::is_complete() const { return false; }
std::unique_ptr<XmlNode> XmlNode::parse(std::string_view) { return nullptr; }
std::string XmlNode::serialize() const { return {}; }
void XmlNode::serialize_to(std::string&) const {}
}  // namespace vokar
