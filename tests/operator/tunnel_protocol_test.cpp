#include "tools/operator/services/tunnel_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/operator/peer.h"

namespace vokar::operatord::tunnel {
namespace {

using Kind = StreamReader::Kind;

// What the reader makes of a byte stream, as text: "R" per request,
// "F<type>:<payload>" per frame, then the stop reason.
std::string read_all(StreamReader& reader)
{
    std::string out;
    for (;;) {
        const auto item = reader.next();
        switch (item.kind) {
        case Kind::kRequest:
            out += "R ";
            break;
        case Kind::kFrame:
            out += "F" + std::to_string(item.type) + ":" + std::string(item.payload) + " ";
            break;
        case Kind::kNeedMore:
            return out + "more";
        case Kind::kBadMethod:
            return out + "bad-method";
        case Kind::kRequestTooLong:
            return out + "too-long";
        case Kind::kBadFrameLength:
            return out + "bad-length";
        }
    }
}

std::string read_in_pieces(std::string_view bytes, size_t cut)
{
    StreamReader reader;
    std::string out;
    for (size_t at = 0; at < bytes.size(); at += cut) {
        reader.append(bytes.substr(at, cut));
        out += read_all(reader);
        if (out.ends_with("more"))
            out.resize(out.size() - 4);
    }
    return out + read_all(reader);
}

TEST(TunnelStreamReader, DoubledRequestAndFramesSurviveAnySplit)
{
    const std::string request = test::tunnel_request("NOOB CONNECT ", 80);
    const std::string stream = request + request + test::frame(1, "1\n10.0.0.1\n10469") +
                               test::frame(2, "") + test::frame(51, std::string(3000, 'x'));
    const std::string expected =
        "R R F1:1\n10.0.0.1\n10469 F2: F51:" + std::string(3000, 'x') + " more";
    for (size_t cut : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{64}, stream.size()})
        EXPECT_EQ(read_in_pieces(stream, cut), expected) << "pieces of " << cut;
}

TEST(TunnelStreamReader, RequestsAreSkippedOnlyBeforeTheFirstFrame)
{
    const std::string request = test::tunnel_request("CONNECT ", 80);
    // A frame whose length bytes spell "CO" (20291 bytes) is a frame, not a request.
    const std::string co_frame = test::frame(2, std::string(20291 - 5, 'p'));
    ASSERT_EQ(co_frame.substr(0, 2), "CO");
    StreamReader reader;
    reader.append(request + co_frame);
    EXPECT_EQ(read_all(reader), "R F2:" + std::string(20286, 'p') + " more");

    StreamReader late;
    late.append(request + test::frame(2, "a") + request);
    EXPECT_EQ(read_all(late), "R F2:a bad-length");
}

TEST(TunnelStreamReader, MalformedInputIsAFinalError)
{
    struct Case {
        std::string bytes;
        std::string expected;
    };
    const std::string request = test::tunnel_request("CONNECT ", 80);
    auto with_length = [&](uint32_t length) { return request + test::length_field(length); };
    const Case cases[] = {
        {"GET / HTTP/1.1\r\n\r\n", "bad-method"},
        {"NOOB GET x\r\n\r\n", "bad-method"},
        {"CONNECT " + std::string(kMaxRequestSize, 'a'), "too-long"},
        {with_length(0), "R bad-length"},
        {with_length(4), "R bad-length"},
        {with_length(0x80000000u), "R bad-length"},
        {with_length(kTunnelMaxFrame + 1), "R bad-length"},
        {with_length(5) + '\x07', "R F7: more"},
        {with_length(kTunnelMaxFrame), "R more"},
    };
    for (const auto& c : cases) {
        StreamReader reader;
        reader.append(c.bytes);
        EXPECT_EQ(read_all(reader), c.expected) << c.bytes.substr(0, 40);
        if (!c.expected.ends_with("more")) {
            reader.append(test::frame(2, "after"));
            EXPECT_TRUE(read_all(reader).ends_with(c.expected.substr(c.expected.rfind(' ') + 1)));
        }
    }
}

TEST(TunnelStreamReader, RequestMayFillTheWholeLimit)
{
    std::string request = "CONNECT x:80 HTTP/1.1\r\n";
    request += std::string(kMaxRequestSize - request.size() - 4, 'h') + "\r\n\r\n";
    ASSERT_EQ(request.size(), kMaxRequestSize);
    StreamReader reader;
    reader.append(request);
    EXPECT_EQ(read_all(reader), "R more");
}

TEST(TunnelPayloads, OpenAndAnnouncementParsing)
{
    const auto udp = parse_open("1\n127.0.0.1\n10469");
    ASSERT_TRUE(udp);
    EXPECT_EQ(udp->kind, RelayKind::kUdp);
    EXPECT_EQ(udp->target.host, "127.0.0.1");
    EXPECT_EQ(udp->target.port, 10469);
    const auto tcp = parse_open("2\nsip.example\n5060");
    ASSERT_TRUE(tcp);
    EXPECT_EQ(tcp->kind, RelayKind::kTcp);
    EXPECT_EQ(tcp->target.host, "sip.example");

    for (const char* bad : {"", "1", "1\n", "3\nhost\n80", "1host\n80", "1\nhost", "1\n\n80",
                            "1\nhost\n0", "1\nhost\n65536", "1\nhost\n8o", "1\nhost\n123456"})
        EXPECT_FALSE(parse_open(bad)) << bad;

    const auto destination = parse_destination("192.168.1.9\n8501");
    ASSERT_TRUE(destination);
    EXPECT_EQ(destination->host, "192.168.1.9");
    EXPECT_EQ(destination->port, 8501);
    EXPECT_FALSE(parse_destination("192.168.1.9"));
    EXPECT_FALSE(parse_destination(std::string("a\0b\n1", 5)));
}

} // namespace
} // namespace vokar::operatord::tunnel
