#include "xml/xml_parser.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace vokar {
namespace {

using namespace std::string_view_literals;

// A descendant's own share of completeness: its end was seen and, for an XML
// declaration, it already encloses something.
bool self_complete(const XmlNode& node)
{
    return node.complete && (!node.children.empty() || node.name != "?xml"sv);
}

// Splits a qualified name at its first colon into prefix and local name.
std::pair<std::string, std::string> split_name(std::string_view qualified)
{
    const size_t colon = qualified.find(':');
    if (colon == std::string_view::npos)
        return {std::string(), std::string(qualified)};
    return {std::string(qualified.substr(0, colon)), std::string(qualified.substr(colon + 1))};
}

// Appends `in` with the four entities decoded. One left-to-right scan gives
// the same result as replacing every "&quot;", "&lt;", "&gt;" and "&amp;" in
// turn: no replacement can form or break another entity, so "&amp;lt;"
// becomes "&lt;".
void append_decoded(std::string& out, std::string_view in)
{
    size_t amp = in.find('&');
    if (amp == std::string_view::npos) {
        out.append(in);
        return;
    }
    size_t from = 0;
    while (amp != std::string_view::npos) {
        out.append(in.substr(from, amp - from));
        const std::string_view rest = in.substr(amp + 1);
        char decoded = '&';
        size_t skip = 1;
        if (rest.starts_with("quot;"sv)) {
            decoded = '"';
            skip = 6;
        } else if (rest.starts_with("lt;"sv)) {
            decoded = '<';
            skip = 4;
        } else if (rest.starts_with("gt;"sv)) {
            decoded = '>';
            skip = 4;
        } else if (rest.starts_with("amp;"sv)) {
            skip = 5;
        }
        out.push_back(decoded);
        from = amp + skip;
        amp = in.find('&', from);
    }
    out.append(in.substr(from));
}

[[gnu::noinline]] XmlParser& start_parser(std::unique_ptr<XmlParser>& slot, XmlNode& top)
{
    slot = std::make_unique<XmlParser>(top, XmlNode::Syntax::kStream);
    return *slot;
}

} // namespace

XmlParser::XmlParser(XmlNode& top, XmlNode::Syntax syntax)
    : top_(top), top_is_root_(top.is_document_root()),
      exact_text_(syntax == XmlNode::Syntax::kFile),
      check_utf8_(syntax == XmlNode::Syntax::kStream), top_children_(top.children.size()),
      node_(&top)
{
    // Nodes already below the top (a tree built by code) count as well.
    std::vector<const XmlNode*> pending;
    for (const auto& child : top.children)
        pending.push_back(child.get());
    while (!pending.empty()) {
        const XmlNode* node = pending.back();
        pending.pop_back();
        if (!self_complete(*node))
            ++incomplete_;
        for (const auto& child : node->children)
            pending.push_back(child.get());
    }
    update_result();
}

void ByteBuffer::grow()
{
    const size_t capacity = capacity_ == 0 ? 256 : capacity_ * 2;
    auto data = std::make_unique<char[]>(capacity);
    if (size_ != 0)
        std::memcpy(data.get(), data_.get(), size_);
    data_ = std::move(data);
    capacity_ = capacity;
}

inline XmlNode::FeedResult XmlParser::feed(char c)
{
    if (result_ == XmlNode::FeedResult::Failed)
        return result_;
    if (++fed_ > XmlNode::kMaxDocumentBytes) {
        fail();
        return result_;
    }
    if (check_utf8_ && (static_cast<unsigned char>(c) >= 0x80 || utf8_due_ != 0)) {
        check_utf8(static_cast<unsigned char>(c));
        if (state_ == State::Failed)
            return result_;
    }
    return step(c);
}

bool XmlParser::feed_all(std::string_view text)
{
    for (const char c : text) {
        if (state_ == State::Failed)
            return false;
        if (++fed_ > XmlNode::kMaxDocumentBytes) {
            fail();
            return false;
        }
        if (check_utf8_ && (static_cast<unsigned char>(c) >= 0x80 || utf8_due_ != 0)) {
            check_utf8(static_cast<unsigned char>(c));
            if (state_ == State::Failed)
                return false;
        }
        step(c);
    }
    if (utf8_due_ != 0) // the text ends inside a sequence
        fail();
    return state_ != State::Failed;
}

void XmlParser::update_result()
{
    bool complete;
    if (top_is_root_)
        complete = top_.children.empty() ? top_.complete : incomplete_ == 0;
    else
        complete = self_complete(top_) && incomplete_ == 0;
    result_ = complete ? XmlNode::FeedResult::Complete : XmlNode::FeedResult::Incomplete;
}

XmlNode::FeedResult XmlParser::step(char c)
{
    switch (state_) {
    case State::Content:
        content(c);
        break;
    case State::Text:
        text(c);
        break;
    case State::Tag:
        tag(c);
        break;
    case State::Attribute:
        attribute(c);
        break;
    case State::Cdata:
        cdata(c);
        break;
    case State::Failed:
        break;
    }
    return result_;
}

// Between markup: "<" opens a tag, anything else starts text; on a stream,
// blanks and commas are skipped first.
inline void XmlParser::content(char c)
{
    switch (c) {
    case ' ':
    case '\t':
    case '\n':
    case '\r':
    case ',':
        if (!exact_text_)
            return;
        break;
    case '<':
        enter_tag();
        return;
    default:
        break;
    }
    state_ = State::Text;
    buf_.clear();
    buf_.push_back(c);
}

// Character data up to the next "<"; a backslash is ordinary text. The
// segment is entity-decoded as it is appended to the node's text.
inline void XmlParser::text(char c)
{
    if (c != '<') {
        buf_.push_back(c);
        return;
    }
    end_text();
}

void XmlParser::end_text()
{
    append_decoded(node_->text, buf_.view());
    enter_tag();
}

inline void XmlParser::tag(char c)
{
    if (slash_seen_) {
        if (c != '>')
            buf_.push_back(c);
        else
            end_slash_tag();
        return;
    }
    switch (c) {
    case '>':
    case ' ':
        open_child(c == ' ');
        return;
    case '/':
        if (!buf_.empty())
            name_before_slash_ = true;
        slash_seen_ = true;
        return;
    case '[':
        if (buf_.view() == "![CDATA"sv) {
            state_ = State::Cdata;
            buf_.clear();
            brackets_ = 0;
            return;
        }
        break;
    default:
        break;
    }
    buf_.push_back(c);
}

// Inside quotes every byte but the closing quote belongs to the value (a
// quote of the other kind included); a value always follows an "=", so no
// name is being read then.
inline void XmlParser::attribute(char c)
{
    if (quote_ != 0) {
        if (c != quote_) {
            value_.push_back(c);
            return;
        }
        add_attribute();
        return;
    }
    switch (c) {
    case '"':
    case '\'':
        if (reading_name_)
            buf_.push_back(c);
        else
            quote_ = c;
        return;
    case '=':
        reading_name_ = false;
        return;
    case ' ':
        return;
    case '/':
        empty_element_ = true;
        return;
    case '>':
        end_start_tag();
        return;
    default:
        (reading_name_ ? buf_ : value_).push_back(c);
    }
}

void XmlParser::add_attribute()
{
    if (node_->attributes.size() >= XmlNode::kMaxAttributes ||
        attributes_ >= XmlNode::kMaxDocumentAttributes) {
        fail();
        return;
    }
    ++attributes_;
    quote_ = 0;
    auto [prefix, name] = split_name(buf_.view());
    node_->attributes.push_back(std::make_unique<XmlAttribute>(
        std::move(name), std::string(value_.view()), std::move(prefix)));
    buf_.clear();
    value_.clear();
    reading_name_ = true;
}

void XmlParser::end_start_tag()
{
    if (empty_element_) {
        set_complete(*node_);
        move_up();
    } else if (node_->name == "?xml"sv || node_->name == "stream"sv) {
        // The XML declaration and a stream header count as ended at their ">".
        set_complete(*node_);
    }
    state_ = State::Content;
}

// "]]>" ends the section; a third "]" goes into the content with the two
// before it.
inline void XmlParser::cdata(char c)
{
    if (c == ']' && brackets_ < 2) {
        ++brackets_;
        return;
    }
    if (c == '>' && brackets_ == 2) {
        end_cdata();
        return;
    }
    for (; brackets_ > 0; --brackets_)
        buf_.push_back(']');
    buf_.push_back(c);
}

void XmlParser::end_slash_tag()
{
    if (!name_before_slash_) {
        // End tag: closes the current node whatever its name.
        set_complete(*node_);
        move_up();
    } else if (XmlNode* child = add_child_from_name()) {
        set_complete(*child);
    } else {
        return;
    }
    state_ = State::Content;
}

void XmlParser::open_child(bool with_attributes)
{
    XmlNode* child = add_child_from_name();
    if (!child)
        return;
    node_ = child;
    ++depth_;
    if (!with_attributes) {
        state_ = State::Content;
        return;
    }
    state_ = State::Attribute;
    buf_.clear();
    value_.clear();
    reading_name_ = true;
    quote_ = 0;
    empty_element_ = false;
}

void XmlParser::end_cdata()
{
    node_->text += buf_.view();
    state_ = State::Content;
}

void XmlParser::enter_tag()
{
    state_ = State::Tag;
    buf_.clear();
    slash_seen_ = false;
    name_before_slash_ = false;
}

void XmlParser::fail()
{
    state_ = State::Failed;
    result_ = XmlNode::FeedResult::Failed;
    buf_.release();
    value_.release();
    node_ = &top_;
    depth_ = 0;
    // Nothing of a failed document is used; free it now rather than when the
    // caller drops the document.
    top_.children.resize(std::min(top_.children.size(), top_children_));
}

// Well-formed UTF-8 only: no overlong forms, no surrogates, nothing above
// U+10FFFF, and every sequence complete.
void XmlParser::check_utf8(unsigned char c)
{
    if (utf8_due_ != 0) {
        if (c < utf8_low_ || c > utf8_high_) {
            fail();
            return;
        }
        --utf8_due_;
        utf8_low_ = 0x80;
        utf8_high_ = 0xBF;
        return;
    }
    if (c < 0xC2 || c > 0xF4) { // a stray continuation byte, or no lead byte at all
        fail();
        return;
    }
    if (c < 0xE0) {
        utf8_due_ = 1;
    } else if (c < 0xF0) {
        utf8_due_ = 2;
        if (c == 0xE0)
            utf8_low_ = 0xA0; // else overlong
        else if (c == 0xED)
            utf8_high_ = 0x9F; // else a surrogate
    } else {
        utf8_due_ = 3;
        if (c == 0xF0)
            utf8_low_ = 0x90; // else overlong
        else if (c == 0xF4)
            utf8_high_ = 0x8F; // else above U+10FFFF
    }
}

XmlNode* XmlParser::add_child_from_name()
{
    if (depth_ >= XmlNode::kMaxDepth || elements_ >= XmlNode::kMaxElements) {
        fail();
        return nullptr;
    }
    ++elements_;
    XmlNode& parent = *node_;
    // A flagged "?xml" becomes complete on its own with its first child.
    const bool parent_counted = &parent != &top_ && !self_complete(parent);
    auto [prefix, name] = split_name(buf_.view());
    parent.children.push_back(
        std::make_unique<XmlNode>(std::move(name), &parent, std::move(prefix)));
    ++incomplete_;
    if (parent_counted && self_complete(parent))
        --incomplete_;
    update_result();
    return parent.children.back().get();
}

void XmlParser::set_complete(XmlNode& node)
{
    if (node.complete)
        return;
    node.complete = true;
    if (&node != &top_ && self_complete(node))
        --incomplete_;
    update_result();
}

void XmlParser::move_up()
{
    // An unmatched end tag at the top leaves the parser at the top.
    if (node_ != &top_) {
        node_ = node_->parent;
        --depth_;
    }
}

// Kept beside the parser so the per-byte path inlines into one call.
XmlNode::FeedResult XmlNode::feed(char c)
{
    XmlParser* parser = parse_state_.get();
    if (!parser) [[unlikely]]
        parser = &start_parser(parse_state_, *this);
    return parser->feed(c);
}

std::unique_ptr<XmlNode> XmlNode::parse(std::string_view text, Syntax syntax)
{
    if (text.size() > kMaxDocumentBytes)
        return nullptr;
    auto root = new_document();
    root->parse_state_ = std::make_unique<XmlParser>(*root, syntax);
    if (!root->parse_state_->feed_all(text))
        return nullptr;
    return root;
}

} // namespace vokar
