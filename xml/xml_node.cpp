#include "xml/xml_node.h"

#include <utility>

#include "xml/xml_parser.h"

namespace vokar {
namespace {

using namespace std::string_view_literals;

// Text: "&" first, so the entities written here are not escaped again.
void append_escaped_text(std::string& out, std::string_view text)
{
    size_t from = 0;
    for (size_t at = text.find_first_of("&\"<>"sv); at != std::string_view::npos;
         at = text.find_first_of("&\"<>"sv, from)) {
        out.append(text.substr(from, at - from));
        switch (text[at]) {
        case '&':
            out += "&amp;"sv;
            break;
        case '"':
            out += "&quot;"sv;
            break;
        case '<':
            out += "&lt;"sv;
            break;
        default:
            out += "&gt;"sv;
            break;
        }
        from = at + 1;
    }
    out.append(text.substr(from));
}

// Parsed attribute values are kept undecoded, so an "&" that already starts an
// entity or character reference is written as it is; values set by code get
// escaped. Either way the output is well-formed and re-reads unchanged.
bool starts_reference(std::string_view rest)
{
    return rest.starts_with("&amp;"sv) || rest.starts_with("&lt;"sv) ||
           rest.starts_with("&gt;"sv) || rest.starts_with("&quot;"sv) ||
           rest.starts_with("&apos;"sv) || rest.starts_with("&#"sv);
}

void append_escaped_value(std::string& out, std::string_view value)
{
    size_t from = 0;
    for (size_t at = value.find_first_of("\"<&"sv); at != std::string_view::npos;
         at = value.find_first_of("\"<&"sv, at + 1)) {
        const char c = value[at];
        if (c == '&' && starts_reference(value.substr(at)))
            continue;
        out.append(value.substr(from, at - from));
        out += c == '"' ? "&quot;"sv : c == '<' ? "&lt;"sv : "&amp;"sv;
        from = at + 1;
    }
    out.append(value.substr(from));
}

void append_qualified(std::string& out, const std::string& prefix, const std::string& name)
{
    if (!prefix.empty()) {
        out += prefix;
        out += ':';
    }
    out += name;
}

// Start tag and text. False when the element was written in the short form
// and nothing of it follows.
bool open_element(std::string& out, const XmlNode& node)
{
    if (!node.is_document_root()) {
        out += '<';
        append_qualified(out, node.prefix, node.name);
        for (const auto& attribute : node.attributes) {
            out += ' ';
            append_qualified(out, attribute->prefix, attribute->name);
            out += "=\""sv;
            append_escaped_value(out, attribute->value);
            out += '"';
        }
        if (node.name == "?xml"sv) {
            out += "?>"sv;
        } else if (node.children.empty() && node.text.empty() && !node.open_only) {
            out += " />"sv;
            return false;
        } else {
            out += '>';
        }
    }
    append_escaped_text(out, node.text);
    return true;
}

void close_element(std::string& out, const XmlNode& node)
{
    if (node.is_document_root() || node.open_only || node.name == "?xml"sv)
        return;
    out += "</"sv;
    append_qualified(out, node.prefix, node.name);
    out += '>';
}

} // namespace

XmlNode::XmlNode(std::string name, XmlNode* parent, std::string prefix)
    : name(std::move(name)), prefix(std::move(prefix)), parent(parent)
{
}

// Trees built by code have no depth limit, so descendants are destroyed from
// a work list instead of by recursion.
XmlNode::~XmlNode()
{
    while (!attributes.empty())
        attributes.pop_back();
    if (children.empty())
        return;
    std::vector<std::unique_ptr<XmlNode>> doomed = std::move(children);
    children.clear();
    while (!doomed.empty()) {
        std::unique_ptr<XmlNode> node = std::move(doomed.back());
        doomed.pop_back();
        for (auto& child : node->children)
            doomed.push_back(std::move(child));
        node->children.clear();
    }
}

std::unique_ptr<XmlNode> XmlNode::new_document()
{
    return std::make_unique<XmlNode>(std::string(kDocumentRootName));
}

XmlNode* XmlNode::add_child(std::string child_name, std::string child_prefix)
{
    children.push_back(
        std::make_unique<XmlNode>(std::move(child_name), this, std::move(child_prefix)));
    return children.back().get();
}

size_t XmlNode::add_attribute(std::unique_ptr<XmlAttribute> attribute)
{
    attributes.push_back(std::move(attribute));
    return attributes.size() - 1;
}

size_t XmlNode::add_attribute(std::string attr_name, std::string value, std::string attr_prefix)
{
    return add_attribute(std::make_unique<XmlAttribute>(std::move(attr_name), std::move(value),
                                                        std::move(attr_prefix)));
}

XmlNode* XmlNode::find_element(std::string_view element_name)
{
    return const_cast<XmlNode*>(std::as_const(*this).find_element(element_name));
}

// The node itself, then its direct children, then the same search below each
// child in turn. The walk below a child is kept on an explicit stack.
const XmlNode* XmlNode::find_element(std::string_view element_name) const
{
    if (name == element_name)
        return this;
    const auto matching_child = [element_name](const XmlNode& node) -> const XmlNode* {
        for (const auto& child : node.children)
            if (child->name == element_name)
                return child.get();
        return nullptr;
    };
    if (const XmlNode* hit = matching_child(*this))
        return hit;
    struct Frame {
        const XmlNode* node;
        size_t next;
    };
    std::vector<Frame> stack{{this, 0}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.node->children.size()) {
            stack.pop_back();
            continue;
        }
        const XmlNode* child = frame.node->children[frame.next++].get();
        if (child->children.empty())
            continue;
        if (const XmlNode* hit = matching_child(*child))
            return hit;
        stack.push_back({child, 0});
    }
    return nullptr;
}

const std::string* XmlNode::attribute_value(std::string_view attr_name) const
{
    for (const auto& attribute : attributes)
        if (attribute->name == attr_name)
            return &attribute->value;
    return nullptr;
}

// A root is complete by its own flag while it has no children, else when every
// child is; any other node needs its own flag, a "?xml" also a child, and every
// child complete.
bool XmlNode::is_complete() const
{
    std::vector<const XmlNode*> pending{this};
    while (!pending.empty()) {
        const XmlNode* node = pending.back();
        pending.pop_back();
        if (node->is_document_root()) {
            if (node->children.empty() && !node->complete)
                return false;
        } else if (!node->complete || (node->children.empty() && node->name == "?xml"sv)) {
            return false;
        }
        for (const auto& child : node->children)
            pending.push_back(child.get());
    }
    return true;
}

std::string XmlNode::serialize() const
{
    std::string out;
    serialize_to(out);
    return out;
}

void XmlNode::serialize_to(std::string& out) const
{
    if (!open_element(out, *this))
        return;
    struct Frame {
        const XmlNode* node;
        size_t next;
    };
    std::vector<Frame> stack{{this, 0}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.node->children.size()) {
            close_element(out, *frame.node);
            stack.pop_back();
            continue;
        }
        const XmlNode& child = *frame.node->children[frame.next++];
        if (!open_element(out, child))
            continue;
        if (child.children.empty())
            close_element(out, child);
        else
            stack.push_back({&child, 0});
    }
}

} // namespace vokar
