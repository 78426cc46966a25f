#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vokar {

class XmlParser;

// One attribute: prefix and local name split at the first colon.
class XmlAttribute {
public:
    XmlAttribute() = default;
    XmlAttribute(std::string name, std::string value, std::string prefix = {})
        : name(std::move(name)), value(std::move(value)), prefix(std::move(prefix))
    {
    }
    virtual ~XmlAttribute() = default;

    std::string name;
    std::string value; // kept as received: never entity-decoded
    std::string prefix;
};

// One element, or the document root ("__document_root"). A node owns its
// attributes and children. All text is bytes; no character-set conversion.
class XmlNode {
public:
    static constexpr std::string_view kDocumentRootName = "__document_root";

    // Limits of the incremental parser. A document that exceeds one fails and
    // must be discarded by its caller.
    static constexpr size_t kMaxDocumentBytes = 1 << 20;    // bytes fed to one document
    static constexpr size_t kMaxDepth = 64;                 // nested elements
    static constexpr size_t kMaxElements = 8192;            // elements in one document
    static constexpr size_t kMaxAttributes = 32;            // attributes of one element
    static constexpr size_t kMaxDocumentAttributes = 24576; // attributes in one document

    enum class FeedResult { Incomplete, Complete, Failed };

    // How character data and bytes are read.
    enum class Syntax {
        // A received XMPP stream (what feed() reads): blanks and commas before
        // character data are skipped, and a byte sequence that is not UTF-8
        // fails the document.
        kStream,
        // A stored file: character data is kept exactly as written, and bytes
        // are taken as they are.
        kFile,
    };

    explicit XmlNode(std::string name, XmlNode* parent = nullptr, std::string prefix = {});
    virtual ~XmlNode();
    XmlNode(const XmlNode&) = delete;
    XmlNode& operator=(const XmlNode&) = delete;

    static std::unique_ptr<XmlNode> new_document();
    bool is_document_root() const { return name == kDocumentRootName && parent == nullptr; }

    // Creates a child with parent = this, appends it and returns it.
    XmlNode* add_child(std::string child_name, std::string child_prefix = {});
    // Appends the attribute (taking ownership); returns its index.
    size_t add_attribute(std::unique_ptr<XmlAttribute> attribute);
    size_t add_attribute(std::string attr_name, std::string value, std::string attr_prefix = {});

    // This node if its name matches; else the first direct child that does;
    // else the first match of a depth-first walk. Prefixes are ignored.
    XmlNode* find_element(std::string_view element_name);
    const XmlNode* find_element(std::string_view element_name) const;
    // Value of the first attribute with this local name, or null.
    const std::string* attribute_value(std::string_view attr_name) const;

    // Advances the incremental parser (Syntax::kStream) by one byte. Complete
    // when the tree under this node is complete (see is_complete); Failed once
    // a limit was exceeded or the bytes are not UTF-8, after which every
    // further byte also fails and what the parser had built is freed. The parser keeps
    // its completeness count as it goes, so while bytes are being fed only
    // the parser may change the tree; an end tag never moves it above this
    // node.
    FeedResult feed(char c);
    // Completeness of the tree under this node.
    bool is_complete() const;

    // A new document root holding everything parsed from `text`; null when a
    // parser limit was exceeded (or, for kStream, the bytes are not UTF-8).
    static std::unique_ptr<XmlNode> parse(std::string_view text, Syntax syntax = Syntax::kStream);

    // Compact XML of this node (of its children for a document root).
    std::string serialize() const;
    void serialize_to(std::string& out) const;

    std::string name;
    std::string prefix;
    std::vector<std::unique_ptr<XmlAttribute>> attributes;
    std::vector<std::unique_ptr<XmlNode>> children;
    std::string text;
    XmlNode* parent = nullptr;
    bool open_only = false; // serialize the start tag and content, never an end tag
    bool complete = false;  // the element's end has been seen

private:
    std::unique_ptr<XmlParser> parse_state_;
};

} // namespace vokar
