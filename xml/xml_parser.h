#pragma once

// Incremental parser behind XmlNode::feed. Internal to vokar_xml.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "xml/xml_node.h"

namespace vokar {

// Growable byte buffer whose append stays inline in the per-byte path.
class ByteBuffer {
public:
    void push_back(char c)
    {
        if (size_ == capacity_)
            grow();
        data_[size_++] = c;
    }
    void clear() { size_ = 0; }
    // Frees the storage.
    void release()
    {
        data_.reset();
        size_ = capacity_ = 0;
    }
    bool empty() const { return size_ == 0; }
    std::string_view view() const { return {data_.get(), size_}; }

private:
    [[gnu::noinline]] void grow();

    std::unique_ptr<char[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// One parser per fed document: the current state is an enum plus the node it
// is bound to, and the state's buffers are members reused across state
// changes, so a byte costs no allocation beyond what the tree itself needs.
//
// The completeness of the document is tracked incrementally: `incomplete_`
// counts the descendants of the top node that are not yet complete on their
// own (flag unset, or a "?xml" without a child). The parser only ever sets
// flags and appends nodes, so the count answers XmlNode::is_complete() for the
// top node in constant time, as long as nothing else changes the tree while it
// is being fed.
class XmlParser {
public:
    XmlParser(XmlNode& top, XmlNode::Syntax syntax);

    XmlNode::FeedResult feed(char c);
    // Feeds every byte; false once a limit was exceeded.
    bool feed_all(std::string_view text);

private:
    enum class State : uint8_t { Content, Text, Tag, Attribute, Cdata, Failed };

    // Advances by one byte; returns the document's state after it.
    XmlNode::FeedResult step(char c);
    void content(char c);
    void text(char c);
    void tag(char c);
    void attribute(char c);
    void cdata(char c);

    // Out-of-line work at the end of a token, keeping the per-byte paths small.
    [[gnu::noinline]] void end_text();
    [[gnu::noinline]] void end_slash_tag();
    [[gnu::noinline]] void open_child(bool with_attributes);
    [[gnu::noinline]] void add_attribute();
    [[gnu::noinline]] void end_start_tag();
    [[gnu::noinline]] void end_cdata();
    void enter_tag();
    // Takes the next byte of a multi-byte sequence, or a non-ASCII lead byte;
    // fails the document on a byte that cannot stand there.
    [[gnu::noinline]] void check_utf8(unsigned char c);
    // Stops for good and frees the buffers and the nodes the parser added.
    [[gnu::noinline]] void fail();
    // Creates a child of the current node from the name buffer; null (and the
    // parser failed) when it would be deeper than the limit.
    XmlNode* add_child_from_name();
    void set_complete(XmlNode& node);
    // Moves to the parent of the current node, never above the top node.
    void move_up();
    // Recomputes result_ after the tree changed.
    void update_result();

    XmlNode& top_;
    const bool top_is_root_;
    const bool exact_text_;     // Syntax::kFile: no blanks or commas skipped
    const bool check_utf8_;     // Syntax::kStream
    const size_t top_children_; // children of the top node not built by the parser
    XmlNode* node_;             // the node the current state is bound to
    size_t depth_ = 0;          // depth of node_ below top_
    size_t fed_ = 0;            // bytes fed to this document
    size_t incomplete_ = 0;
    size_t elements_ = 0;   // elements created by the parser
    size_t attributes_ = 0; // attributes created by the parser
    // UTF-8 check: continuation bytes still due, and the range of the next.
    uint8_t utf8_due_ = 0;
    uint8_t utf8_low_ = 0x80;
    uint8_t utf8_high_ = 0xBF;
    State state_ = State::Content;
    XmlNode::FeedResult result_ = XmlNode::FeedResult::Incomplete;

    ByteBuffer buf_;   // text, tag name, attribute name or CDATA content
    ByteBuffer value_; // attribute value
    // Tag state.
    bool slash_seen_ = false;
    bool name_before_slash_ = false;
    // Attribute state.
    bool reading_name_ = true;
    char quote_ = 0; // the open quote, if any
    bool empty_element_ = false;
    // CDATA state: number of "]" held back (0..2).
    uint8_t brackets_ = 0;
};

} // namespace vokar
