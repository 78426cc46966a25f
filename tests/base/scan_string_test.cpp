#include "base/scan_string.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace vokar {
namespace {

std::vector<std::string> tokens(ScanString s, std::string_view extra = {})
{
    std::vector<std::string> out;
    for (;;) {
        ScanString t = s.next_token(extra);
        if (t.empty())
            break;
        out.push_back(t.str());
    }
    return out;
}

TEST(ScanString, TokensSplitOnTheSixDelimitersAndExtras)
{
    struct Case {
        const char* text;
        const char* extra;
        std::vector<std::string> want;
    } cases[] = {
        {"a,b c\nd\te\rf;g", "", {"a", "b", "c", "d", "e", "f", "g"}},
        {",, ;;\r\n\tword\t\t", "", {"word"}},
        {"SIP/2.0 200 OK", "", {"SIP/2.0", "200", "OK"}},
        {"sip:alice@host:5060", ":@", {"sip", "alice", "host", "5060"}},
        {"", "", {}},
        {";;;", "", {}},
        {"tail-without-delimiter", "", {"tail-without-delimiter"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tokens(ScanString(c.text), c.extra), c.want) << c.text;
}

TEST(ScanString, ReadsAtTheEndGiveBlanksAndKeepTheCursor)
{
    ScanString s("ab");
    EXPECT_EQ(s.next(), 'a');
    EXPECT_EQ(s.next(), 'b');
    EXPECT_TRUE(s.at_end());
    EXPECT_EQ(s.next(), ' ');
    EXPECT_EQ(s.peek(), ' ');
    EXPECT_EQ(s.cursor(), 2);
    std::string target;
    s.take(target);
    EXPECT_EQ(target, " ");
    EXPECT_EQ(s.cursor(), 2);
    s.skip_blanks(); // peek() is a blank at the end, yet this terminates
    EXPECT_EQ(s.cursor(), 2);
    EXPECT_TRUE(s.next_token().empty());
    s.rewind();
    EXPECT_EQ(s.peek(), 'a');
}

TEST(ScanString, SkipBlanksStopsAtTheFirstOtherByte)
{
    ScanString s("   \tx");
    s.skip_blanks();
    EXPECT_EQ(s.peek(), '\t');
}

TEST(ScanString, SearchAndCompare)
{
    const ScanString s("Via: a\r\nVia: b\r\n");
    EXPECT_EQ(s.find("Via"), 0);
    EXPECT_EQ(s.find("Via", 1), 8);
    EXPECT_EQ(s.find("Via", 100), -1);
    EXPECT_EQ(s.find("via"), -1);
    EXPECT_EQ(s.find("Via", -4), 0);
    EXPECT_EQ(s.rfind("Via"), 8);
    EXPECT_EQ(s.rfind('\n'), 15);
    EXPECT_EQ(s.rfind('#'), -1);
    EXPECT_TRUE(ScanString("Content-Length").equals_ignore_case("content-LENGTH"));
    EXPECT_FALSE(ScanString("Content-Length").equals_ignore_case("Content-Lengt"));
    EXPECT_TRUE(ScanString("x").equals("x"));
}

TEST(ScanString, ToIntReadsLeadingDigitsOnly)
{
    const std::pair<const char*, int> cases[] = {
        {"120 Expires", 120},
        {"  42", 42},
        {"-7x", -7},
        {"abc", 0},
        {"", 0},
        {"99999999999999999999", INT_MAX},
        {"-99999999999999999999", INT_MIN},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(ScanString(text).to_int(), value) << text;
}

TEST(ScanString, SubstrIsClippedToTheText)
{
    const ScanString s("abcdef");
    EXPECT_EQ(s.substr(2, 3), "cde");
    EXPECT_EQ(s.substr(4, 100), "ef");
    EXPECT_EQ(s.substr(-3, 2), "ab");
    EXPECT_EQ(s.substr(6, 1), "");
    EXPECT_EQ(s.substr(1, -1), "");
    EXPECT_EQ(s.substr(1, INT_MAX), "bcdef");
}

TEST(ScanString, BuildingText)
{
    ScanString s;
    s.append("CSeq: ").append_int(-12).append(' ').append(ScanString("INVITE")).append_crlf();
    EXPECT_EQ(s, "CSeq: -12 INVITE\r\n");
    EXPECT_EQ(ScanString("MiXeD").to_lower(), "mixed");
    EXPECT_EQ(ScanString("a-b-c").replace_all("-", "--"), "a--b--c");
    EXPECT_EQ(ScanString("aaa").replace_all("aa", "a"), "aa");
    EXPECT_EQ(ScanString("abc").replace_all("", "x"), "abc");
}

TEST(ScanString, CopiesTakeTheBytesButNotTheCursor)
{
    ScanString a("hello world");
    a.next_token();
    EXPECT_EQ(a.cursor(), 5);
    ScanString b(a);
    EXPECT_EQ(b.cursor(), 0);
    ScanString c;
    c = a;
    EXPECT_EQ(c.cursor(), 0);
    EXPECT_EQ(c.next_token(), "hello");
}

} // namespace
} // namespace vokar
