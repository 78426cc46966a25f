#include "tools/operator/services/http_request.h"

#include <gtest/gtest.h>

namespace vokar::operatord {
namespace {

TEST(RequestHeadScanner, FindsTheBlankLineHoweverTheHeadIsSplit)
{
    const std::string head = "\r\nGET /a?b=c HTTP/1.1\r\nHost: h\r\n\r\n";
    const std::string text = head + "body";
    for (size_t piece = 1; piece <= text.size(); ++piece) {
        SCOPED_TRACE(piece);
        RequestHeadScanner scanner;
        size_t found = 0;
        for (size_t end = piece; found == 0; end = std::min(end + piece, text.size()))
            found = scanner.scan(std::string_view(text).substr(0, end));
        // The leading empty line is skipped, not taken for the end.
        EXPECT_EQ(found, head.size());
    }
    RequestHeadScanner bare;
    EXPECT_EQ(bare.scan("GET / HTTP/1.0\n\nrest"), 16u);
    RequestHeadScanner open;
    EXPECT_EQ(open.scan("GET / HTTP/1.0\r\nHost: h\r\n"), 0u);
}

using namespace std::string_view_literals;

struct HeadCase {
    const char* name;
    std::string_view head;
    int status; // 0: parsed
};

void PrintTo(const HeadCase& c, std::ostream* out)
{
    *out << c.name;
}

class ParseHeadTest : public ::testing::TestWithParam<HeadCase> {};

TEST_P(ParseHeadTest, AcceptsOnlyWellFormedHttp1Requests)
{
    int status = 0;
    const auto request = parse_request_head(GetParam().head, &status);
    EXPECT_EQ(request.has_value(), GetParam().status == 0);
    if (!request) {
        EXPECT_EQ(status, GetParam().status);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Heads, ParseHeadTest,
    ::testing::Values(HeadCase{"ClientRequest",
                               "GET /accounts/x.php?u=1 HTTP/1.1\r\nHost: h\r\nCookie: .\r\n\r\n",
                               0},
                      HeadCase{"Http10BareLineFeeds", "GET / HTTP/1.0\n\n", 0},
                      HeadCase{"OtherVersion", "GET / HTTP/2.0\r\n\r\n", 505},
                      HeadCase{"NoVersion", "GET /\r\n\r\n", 400},
                      HeadCase{"DoubleSpace", "GET  / HTTP/1.1\r\n\r\n", 400},
                      HeadCase{"TrailingSpace", "GET / HTTP/1.1 \r\n\r\n", 400},
                      HeadCase{"AsteriskTarget", "OPTIONS * HTTP/1.1\r\n\r\n", 400},
                      HeadCase{"ControlInTarget", "GET /a\x01 HTTP/1.1\r\n\r\n", 400},
                      HeadCase{"BareCarriageReturn", "GET /a\rb HTTP/1.1\r\n\r\n", 400},
                      HeadCase{"MethodNotAToken", "G(T / HTTP/1.1\r\n\r\n", 400},
                      HeadCase{"HeaderWithoutColon", "GET / HTTP/1.1\r\nHost h\r\n\r\n", 400},
                      HeadCase{"FoldedHeader", "GET / HTTP/1.1\r\nX: a\r\n  b\r\n\r\n", 400},
                      HeadCase{"NulInHeader", "GET / HTTP/1.1\r\nX: a\0b\r\n\r\n"sv, 400},
                      HeadCase{"Garbage", "\x16\x03\x01\x02\r\n\r\n", 400}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseHead, SplitsTheTargetAtTheFirstQuestionMark)
{
    int status = 0;
    const auto request =
        parse_request_head("GET /accounts/a.php?x=1?2&y HTTP/1.0\r\n\r\n", &status);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->method, "GET");
    EXPECT_EQ(request->path, "/accounts/a.php");
    EXPECT_EQ(request->query, "x=1?2&y");
    EXPECT_EQ(request->minor_version, 0);
}

TEST(DecodeQuery, DecodesWhatTheClientEncodesAndKeepsPlusLiteral)
{
    // The client's encoding of "a b+c-%" and a raw second "+" of a number.
    const auto query = decode_query("msg=a%20b%2Bc%2D%25&msisdn=+27&&flag&%6Bey=%c3%A9");
    ASSERT_TRUE(query);
    EXPECT_EQ(query->at("msg"), "a b+c-%");
    EXPECT_EQ(query->at("msisdn"), "+27");
    EXPECT_EQ(query->at("flag"), "");
    EXPECT_EQ(query->at("key"), "\xc3\xa9");
    EXPECT_EQ(query->size(), 4u);
    EXPECT_EQ(decode_query("a=%00")->at("a"), std::string(1, '\0'));
    EXPECT_TRUE(decode_query("")->empty());

    for (const char* broken : {"a=%", "a=%4", "a=%G1", "a=1%", "%zz=1", "a=1&a=2", "a=1&%61=2"})
        EXPECT_FALSE(decode_query(broken)) << broken;
}

TEST(HttpAnswer, CarriesTheLengthAndClosesTheConnection)
{
    EXPECT_EQ(http_answer(200, "0ok"),
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 3\r\n"
              "Connection: close\r\n\r\n0ok");
    EXPECT_EQ(http_answer(405, "", "Allow: GET\r\n").find("HTTP/1.1 405 Method Not Allowed\r\n"),
              0u);
}

} // namespace
} // namespace vokar::operatord
