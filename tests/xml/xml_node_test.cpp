#include "xml/xml_node.h"

#include <gtest/gtest.h>

#include <functional>

namespace vokar {
namespace {

TEST(XmlNode, SerializesCompactly)
{
    struct Case {
        const char* what;
        std::function<void(XmlNode&)> build;
        const char* want;
    } cases[] = {
        {"childless element uses the short form", [](XmlNode& d) { d.add_child("presence"); },
         "<presence />"},
        {"open_only writes the start tag alone",
         [](XmlNode& d) {
             XmlNode* s = d.add_child("stream", "stream");
             s->open_only = true;
             s->add_attribute("to", "vokar.test");
             s->add_attribute("stream", "http://etherx.jabber.org/streams", "xmlns");
         },
         "<stream:stream to=\"vokar.test\" xmlns:stream=\"http://etherx.jabber.org/streams\">"},
        {"declaration ends in ?> and encloses what follows",
         [](XmlNode& d) {
             XmlNode* decl = d.add_child("?xml");
             decl->add_attribute("version", "1.0");
             decl->add_child("settings")->add_child("user")->text = "alice";
         },
         "<?xml version=\"1.0\"?><settings><user>alice</user></settings>"},
        {"text precedes the children",
         [](XmlNode& d) {
             XmlNode* m = d.add_child("message");
             m->add_child("body")->text = "hi";
             m->text = "lead";
         },
         "<message>lead<body>hi</body></message>"},
        {"text escapes & \" < >", [](XmlNode& d) { d.add_child("b")->text = "a&lt;\"<>"; },
         "<b>a&amp;lt;&quot;&lt;&gt;</b>"},
        {"a root writes its text and children",
         [](XmlNode& d) {
             d.text = "x";
             d.add_child("a");
             d.add_child("b", "p");
         },
         "x<a /><p:b />"},
        {"references already in a value are kept",
         [](XmlNode& d) {
             d.add_child("item")->add_attribute("name", "&amp;&lt;&gt;&quot;&apos;&#38;&am");
         },
         "<item name=\"&amp;&lt;&gt;&quot;&apos;&#38;&amp;am\" />"},
    };
    for (const auto& c : cases) {
        auto doc = XmlNode::new_document();
        c.build(*doc);
        EXPECT_EQ(doc->serialize(), c.want) << c.what;
    }
}

TEST(XmlNode, FindElementPrefersSelfThenDirectChildThenDepthFirst)
{
    XmlNode iq("iq");
    XmlNode* query = iq.add_child("query");
    XmlNode* deep = query->add_child("item")->add_child("group");
    iq.add_child("other")->add_child("group");

    EXPECT_EQ(iq.find_element("iq"), &iq);
    EXPECT_EQ(iq.find_element("group"), deep); // depth-first: query's subtree before other's
    XmlNode* direct = query->add_child("group", "x");
    EXPECT_EQ(query->find_element("group"), direct); // a direct child before a deeper one
    EXPECT_EQ(iq.find_element("group"), direct);
    EXPECT_EQ(iq.find_element("none"), nullptr);
    EXPECT_EQ(iq.find_element("Query"), nullptr);

    iq.add_attribute("id", "a", "p");
    iq.add_attribute("id", "b");
    ASSERT_NE(iq.attribute_value("id"), nullptr);
    EXPECT_EQ(*iq.attribute_value("id"), "a"); // first match, prefix not compared
    EXPECT_EQ(iq.attribute_value("type"), nullptr);
}

TEST(XmlNode, CompletenessRules)
{
    auto doc = XmlNode::new_document();
    EXPECT_FALSE(doc->is_complete());
    doc->complete = true; // a lone end tag completes an empty document
    EXPECT_TRUE(doc->is_complete());

    XmlNode* decl = doc->add_child("?xml");
    decl->complete = true;
    EXPECT_FALSE(doc->is_complete()); // a declaration needs a child
    XmlNode* stream = decl->add_child("stream", "stream");
    EXPECT_FALSE(doc->is_complete());
    stream->complete = true;
    EXPECT_TRUE(doc->is_complete());
    stream->add_child("features");
    EXPECT_FALSE(doc->is_complete());
}

// Trees built by code are not depth-limited: nothing may recurse per level.
TEST(XmlNode, DeepTreesBuiltByCodeDoNotOverflowTheStack)
{
    constexpr int kLevels = 300000;
    auto doc = XmlNode::new_document();
    XmlNode* node = doc.get();
    for (int i = 0; i < kLevels; ++i) {
        node = node->add_child("n");
        node->complete = true;
    }
    node->add_child("leaf")->complete = true;
    EXPECT_TRUE(doc->is_complete());
    EXPECT_EQ(doc->find_element("leaf"), node->children[0].get());
    const std::string xml = doc->serialize();
    EXPECT_EQ(xml.size(), kLevels * 7 + 8u);
    EXPECT_EQ(xml.substr(kLevels * 3 - 3, 15), "<n><leaf /></n>");
    doc.reset();
}

} // namespace
} // namespace vokar
