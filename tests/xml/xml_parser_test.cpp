#include "xml/xml_node.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <memory>
#include <string>

namespace vokar {
namespace {

using Result = XmlNode::FeedResult;

// Feeds `text` byte by byte; returns the index of the first byte after which
// the document was complete (-1 if never). Every result must agree with a
// full completeness walk of the tree.
long first_complete(XmlNode& doc, std::string_view text)
{
    long first = -1;
    for (size_t i = 0; i < text.size(); ++i) {
        const Result r = doc.feed(text[i]);
        EXPECT_NE(r, Result::Failed) << text << " at " << i;
        EXPECT_EQ(r == Result::Complete, doc.is_complete()) << text << " at " << i;
        if (r == Result::Complete && first < 0)
            first = static_cast<long>(i);
    }
    return first;
}

TEST(XmlParser, CompletesExactlyAtTheClosingByte)
{
    const std::string header = "<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
                               "xmlns:stream='http://etherx.jabber.org/streams' id='c2s_1'>";
    struct Case {
        std::string text;
        bool at_last_byte; // else never complete
    } cases[] = {
        {"<message to='a@b'><body>x</body></message>", true},
        {header, true},
        {"</stream:stream>", true}, // a lone end tag completes an empty document
        {"\n<presence/>", true},
        {"<iq type='result' id='s'/>", true},
        {"<a><b/><c></c></a>", true},
        {"<?xml version='1.0'?>", false}, // a declaration alone is not a stanza
        {"<stream:stream>", false},       // without attributes a stream tag stays open
        {"<a><?xml ?></a></a>", false},   // a childless declaration never completes
    };
    for (const auto& c : cases) {
        auto doc = XmlNode::new_document();
        EXPECT_EQ(first_complete(*doc, c.text),
                  c.at_last_byte ? static_cast<long>(c.text.size()) - 1 : -1)
            << c.text;
    }

    auto doc = XmlNode::new_document();
    first_complete(*doc, header);
    const XmlNode& decl = *doc->children.at(0);
    ASSERT_EQ(decl.name, "?xml");
    ASSERT_EQ(decl.children.size(), 1u);
    const XmlNode& stream = *decl.children[0];
    EXPECT_EQ(stream.prefix, "stream");
    EXPECT_EQ(stream.name, "stream");
    ASSERT_EQ(stream.attributes.size(), 3u);
    EXPECT_EQ(stream.attributes[1]->prefix, "xmlns");
    EXPECT_EQ(stream.attributes[1]->name, "stream");
    EXPECT_EQ(*stream.attribute_value("id"), "c2s_1");
}

TEST(XmlParser, TextEntitiesCdataAndBackslash)
{
    struct Case {
        const char* xml;
        const char* text;
    } cases[] = {
        {"<b>&amp;lt;</b>", "&lt;"},
        {"<b>&quot;&lt;&gt;&amp;&apos;&#38;</b>", "\"<>&&apos;&#38;"},
        {"<b>, \r\n\tleading, trailing ,\n</b>", "leading, trailing ,\n"},
        {"<b>one <i/> two</b>", "one two"},
        {"<b>&amp;lt;<i/>x</b>", "&lt;x"}, // each segment is decoded once
        {"<b><![CDATA[x]]></b>", "x"},
        {"<b><![CDATA[<&amp;>]]>t</b>", "<&amp;>t"},
        {"<b><![CDATA[a]]]>b]]></b>", "a]]]>b"},
        {"<b><![CDATA[a]>]]></b>", "a]>"},
        {"<b>C:\\<i/>x\\</b>", "C:\\x\\"}, // a backslash never hides a "<"
    };
    for (const auto& c : cases) {
        auto doc = XmlNode::parse(c.xml);
        ASSERT_NE(doc, nullptr) << c.xml;
        const XmlNode* b = doc->find_element("b");
        ASSERT_NE(b, nullptr) << c.xml;
        EXPECT_EQ(b->text, c.text) << c.xml;
        EXPECT_TRUE(doc->is_complete()) << c.xml;
    }
}

TEST(XmlParser, AttributeQuoting)
{
    struct Case {
        const char* xml;
        const char* prefix;
        const char* name;
        const char* value;
    } cases[] = {
        {"<a n='say \"hi\"'/>", "", "n", "say \"hi\""},
        {"<a n=\"it's\"/>", "", "n", "it's"},
        {"<a n='x=y'/>", "", "n", "x=y"},
        {"<a n = 'a/b>c d' />", "", "n", "a/b>c d"},
        {"<a n='Tom &amp; Jerry'/>", "", "n", "Tom &amp; Jerry"},
        {"<a xml:lang='en'>", "xml", "lang", "en"},
    };
    for (const auto& c : cases) {
        auto doc = XmlNode::parse(c.xml);
        ASSERT_NE(doc, nullptr);
        const XmlNode& a = *doc->children.at(0);
        ASSERT_EQ(a.attributes.size(), 1u) << c.xml;
        EXPECT_EQ(a.attributes[0]->prefix, c.prefix) << c.xml;
        EXPECT_EQ(a.attributes[0]->name, c.name) << c.xml;
        EXPECT_EQ(a.attributes[0]->value, c.value) << c.xml;
    }
}

// A value typed by the user survives the trip to a peer and back unchanged,
// and a value read from the network is written back as it came.
TEST(XmlParser, AttributeEscapingRoundTrips)
{
    auto doc = XmlNode::new_document();
    XmlNode* item = doc->add_child("iq")->add_child("query")->add_child("item");
    item->add_attribute("jid", "tom@vokar.test");
    item->add_attribute("name", "Tom \"T\" & <Jerry> &amp;");
    const std::string first = doc->serialize();
    EXPECT_EQ(first, "<iq><query><item jid=\"tom@vokar.test\" "
                     "name=\"Tom &quot;T&quot; &amp; &lt;Jerry> &amp;\" /></query></iq>");
    auto back = XmlNode::parse(first);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->is_complete());
    EXPECT_EQ(back->serialize(), first);

    const std::string wire = "<item name='Tom &amp; Jerry &lt;3'/>";
    EXPECT_EQ(XmlNode::parse(wire)->serialize(), "<item name=\"Tom &amp; Jerry &lt;3\" />");
}

TEST(XmlParser, LimitsFailTheDocumentForGood)
{
    const size_t limit = XmlNode::kMaxDocumentBytes;
    std::string nested;
    for (size_t i = 0; i < XmlNode::kMaxDepth; ++i)
        nested += "<a>";
    std::string wide = "<r>"; // as many elements as allowed
    for (size_t i = 1; i < XmlNode::kMaxElements; ++i)
        wide += "<a/>";
    std::string attributes = "<a"; // as many attributes as one element may have
    for (size_t i = 0; i < XmlNode::kMaxAttributes; ++i)
        attributes += " x" + std::to_string(i) + "=''";
    std::string many; // as many attributes as one document may have
    for (size_t i = 0; i < XmlNode::kMaxDocumentAttributes / XmlNode::kMaxAttributes; ++i)
        many += attributes + "/>";
    struct Case {
        const char* what;
        std::string text;
        size_t fails_at; // index of the first failing byte
    } cases[] = {
        {"document size", "<a>" + std::string(limit, 'x'), limit},
        {"long name", "<" + std::string(limit, 'n'), limit},
        {"long attribute value", "<a v='" + std::string(limit, 'v'), limit},
        {"depth by start tag", nested + "<b>", nested.size() + 2},
        {"depth by empty element", nested + "<b/>", nested.size() + 3},
        {"depth by attributes", nested + "<b x='1'>", nested.size() + 2},
        {"elements", wide + "<b>", wide.size() + 2},
        {"attributes of an element", attributes + " y=''", attributes.size() + 4},
        {"attributes of a document", many + "<b y=''", many.size() + 6},
    };
    for (const auto& c : cases) {
        auto doc = XmlNode::new_document();
        size_t i = 0;
        while (i < c.text.size() && doc->feed(c.text[i]) != Result::Failed)
            ++i;
        EXPECT_EQ(i, c.fails_at) << c.what;
        for (const char after : std::string_view("</a>"))
            EXPECT_EQ(doc->feed(after), Result::Failed) << c.what;
        EXPECT_EQ(XmlNode::parse(c.text), nullptr) << c.what;
    }
    // At the limits themselves everything still parses.
    EXPECT_NE(XmlNode::parse(nested), nullptr);
    EXPECT_NE(XmlNode::parse(wide), nullptr);
    EXPECT_NE(XmlNode::parse(many), nullptr);
    EXPECT_NE(XmlNode::parse("<a>" + std::string(limit - 3, 'x')), nullptr);
}

// A stream must be UTF-8: a bad byte fails the document where it stands. A
// stored file is read as it is.
TEST(XmlParser, AStreamThatIsNotUtf8Fails)
{
    const std::string head = "<item jid='carol";
    const std::string bad[] = {
        "\x80",             // a continuation byte without a lead
        "\xE9@",            // Latin-1
        "\xC3@",            // a sequence cut short
        "\xC0\xAF",         // overlong
        "\xE0\x80\xAF",     // overlong
        "\xED\xA0\x80",     // a surrogate
        "\xF4\x90\x80\x80", // above U+10FFFF
        "\xFF",
    };
    for (const std::string& bytes : bad) {
        const std::string text = head + bytes + "@vokar.test'/>";
        auto doc = XmlNode::new_document();
        size_t i = 0;
        while (i < text.size() && doc->feed(text[i]) != Result::Failed)
            ++i;
        EXPECT_GE(i, head.size()) << text;
        EXPECT_LT(i, head.size() + bytes.size()) << text;
        EXPECT_EQ(XmlNode::parse(text), nullptr) << text;
        EXPECT_NE(XmlNode::parse(text, XmlNode::Syntax::kFile), nullptr) << text;
    }
    EXPECT_EQ(XmlNode::parse("<b>caf\xC3"), nullptr) << "the text ends inside a sequence";

    const std::string good =
        "<b>\xC3\xA9 \xE2\x82\xAC \xED\x9F\xBF \xF0\x9D\x84\x9E \xF4\x8F\xBF\xBF</b>";
    auto doc = XmlNode::new_document();
    EXPECT_EQ(first_complete(*doc, good), static_cast<long>(good.size()) - 1);
    EXPECT_EQ(doc->children.at(0)->text, good.substr(3, good.size() - 7));
}

// Stored values keep leading blanks and commas; a stream still skips them.
TEST(XmlParser, FileSyntaxKeepsTextAsWritten)
{
    auto doc = XmlNode::new_document();
    XmlNode* user = doc->add_child("user");
    user->add_child("password")->text = " ,pass, word ";
    user->add_child("username")->text = "\t15555550123";
    const std::string file = doc->serialize();
    auto back = XmlNode::parse(file, XmlNode::Syntax::kFile);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->find_element("password")->text, " ,pass, word ");
    EXPECT_EQ(back->find_element("username")->text, "\t15555550123");
    EXPECT_EQ(back->serialize(), file);
    EXPECT_EQ(XmlNode::parse(file)->find_element("password")->text, "pass, word ");
}

// Heap in use, small blocks and mapped ones.
size_t heap_in_use()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

size_t growth_since(size_t before)
{
    const size_t now = heap_in_use();
    return now > before ? now - before : 0;
}

// Inputs of the largest size a document may have that are made of the
// costliest pieces (empty elements, attributes) stay within a few MB while
// they are parsed, and leave nothing behind once they failed.
TEST(XmlParser, HeapStaysSmallForAMebibyteOfTinyPieces)
{
    {
        const size_t before = heap_in_use();
        const auto probe = std::make_unique<char[]>(1 << 20);
        if (growth_since(before) < (1 << 20))
            GTEST_SKIP() << "the C library's heap is not in use (a sanitizer's allocator)";
    }
    const auto fill = [](std::string head, std::string_view piece) {
        while (head.size() + piece.size() <= XmlNode::kMaxDocumentBytes)
            head += piece;
        return head;
    };
    const std::string attributes(" a=''", 5);
    const std::string element = "<a" + fill("", attributes).substr(0, 32 * 5) + "/>";
    const std::string cases[] = {
        fill("<r>", "<a/>"),
        fill("<a", attributes),
        fill("<r>", element),
    };
    constexpr size_t kBound = 4 << 20;
    for (const std::string& text : cases) {
        const size_t before = heap_in_use();
        size_t peak = 0;
        auto doc = XmlNode::new_document();
        for (size_t i = 0; i < text.size(); ++i) {
            if (doc->feed(text[i]) == Result::Failed)
                break;
            if (i % 1024 == 0)
                peak = std::max(peak, growth_since(before));
        }
        EXPECT_EQ(doc->feed('>'), Result::Failed) << text.substr(0, 40);
        EXPECT_LT(peak, kBound) << text.substr(0, 40);
        EXPECT_LT(growth_since(before), 64u << 10) << "freed on failure: " << text.substr(0, 40);
        EXPECT_EQ(XmlNode::parse(text), nullptr);
    }
}

} // namespace
} // namespace vokar
