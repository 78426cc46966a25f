#include "sip/sip_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vokar {
namespace {

// An INVITE as a proxy relays it: two Vias, a Record-Route, an SDP offer.
const std::string kInvite =
    "INVITE sip:4915112345678@192.0.2.23:5098 SIP/2.0\r\n"
    "Via: SIP/2.0/UDP 198.51.100.10:5060;branch=z9hG4bKproxy.1\r\n"
    "Via: SIP/2.0/UDP 198.51.100.80:5060;rport=5060;branch=z9hG4bKcaller\r\n"
    "Record-Route: <sip:198.51.100.10;lr>\r\n"
    "Max-Forwards: 69\r\n"
    "From: \"Bob\" <sip:4930987654@sip.example.net:5060>;tag=77a1c\r\n"
    "To: <sip:4915112345678@sip.example.net>\r\n"
    "Call-ID: 8f14e45f@198.51.100.80\r\n"
    "CSeq: 12 INVITE\r\n"
    "Contact: <sip:4930987654@198.51.100.80:5060;alias=203.0.113.9~5060~1>\r\n"
    "Content-Type: application/sdp\r\n"
    "Content-Length: 120\r\n"
    "\r\n"
    "v=0\r\n"
    "o=Quillvoce 1042317 1 IN IP4 203.0.113.45\r\n"
    "c=IN IP4 203.0.113.45\r\n"
    "m=audio 41000 RTP/AVP 97 3\r\n"
    "a=rtpmap:97 speex/8000\r\n"
    "a=local:192+0+2+23:41000\r\n";

TEST(SipParser, ReadsEveryFieldOfARelayedInvite)
{
    const auto msg = parse(kInvite);
    ASSERT_TRUE(msg);
    EXPECT_EQ(msg->request_line, "INVITE sip:4915112345678@192.0.2.23:5098 SIP/2.0");
    EXPECT_EQ(msg->via_list,
              (std::vector<std::string>{
                  "SIP/2.0/UDP 198.51.100.10:5060;branch=z9hG4bKproxy.1",
                  "SIP/2.0/UDP 198.51.100.80:5060;rport=5060;branch=z9hG4bKcaller"}));
    EXPECT_EQ(msg->via, msg->via_list[1]);
    EXPECT_EQ(msg->branch, "z9hG4bKcaller");
    EXPECT_EQ(msg->record_route, "<sip:198.51.100.10;lr>");
    EXPECT_EQ(msg->route_list, std::vector<std::string>{"<sip:198.51.100.10;lr>"});
    EXPECT_EQ(msg->max_forwards, 69);
    const SipAddress& from = msg->from;
    EXPECT_EQ(from.display + "|" + from.user + "|" + from.host + "|" + from.tag,
              "Bob|4930987654|sip.example.net|77a1c");
    EXPECT_EQ(from.port, 5060);
    EXPECT_EQ(msg->to.port, -1);
    EXPECT_EQ(msg->to.tag, "");
    EXPECT_EQ(msg->call_id, "8f14e45f@198.51.100.80");
    EXPECT_EQ(msg->cseq_text, "12");
    EXPECT_EQ(msg->cseq, 12);
    EXPECT_EQ(msg->method, "INVITE");
    EXPECT_EQ(msg->contact_uri, "sip:4930987654@198.51.100.80:5060;alias=203.0.113.9~5060~1");
    EXPECT_EQ(msg->content_type, "application/sdp");
    EXPECT_EQ(msg->content_length, 120);
    ASSERT_TRUE(msg->sdp);
    EXPECT_EQ(msg->sdp->port, 41000);
    EXPECT_EQ(msg->sdp->payload_list(), std::vector<int>{97});
}

TEST(SipParser, StartLines)
{
    struct Case {
        std::string text;
        bool parsed;
        int kind;
        int status;
        std::string reason; // the first word of the phrase
    } cases[] = {
        {"SIP/2.0 401 Unauthorized\r\nCSeq: 1 REGISTER\r\n\r\n", true, SipMessage::kResponse, 401,
         "Unauthorized"},
        {"SIP/2.0 486 Busy Here\r\n\r\n", true, SipMessage::kResponse, 486, "Busy"},
        {"SIP/2.0 180 Ringing", true, SipMessage::kResponse, 0, ""}, // cut inside the line
        {"OPTIONS sip:a@b SIP/2.0\r\n", true, SipMessage::kRequest, 0, ""},
        {"GISTER sip:a@b SIP/2.0\r\n", true, SipMessage::kRequest, 0, ""}, // part of the list
        {"HELLO sip:a@b SIP/2.0\r\n", false, 0, 0, ""},
        {"SIP/2.1 200 OK\r\n", false, 0, 0, ""},
        {"INVITE", false, 0, 0, ""},
        {"BYE", false, 0, 0, ""},
        {"", false, 0, 0, ""},
        {" ", false, 0, 0, ""},
    };
    for (const auto& c : cases) {
        const auto msg = parse(c.text);
        ASSERT_EQ(msg.has_value(), c.parsed) << c.text;
        if (!msg)
            continue;
        EXPECT_EQ(msg->kind, c.kind) << c.text;
        EXPECT_EQ(msg->status, c.status) << c.text;
        EXPECT_EQ(msg->reason, c.reason) << c.text;
    }
}

TEST(SipParser, HeaderTolerance)
{
    const auto msg = parse("BYE sip:a@b SIP/2.0\r\n"
                           "call-id: lower-case\r\n"
                           "Via: SIP/2.0/UDP 10.0.0.1;rport;branch=\r\n"
                           "CSeq: 7 CANCEL\r\n"
                           "Event: presence\r\n"
                           "X-Unknown: Call-ID: inner\r\n"
                           "a line without colon\r\n"
                           "Call-ID: after-the-colonless-line\r\n"
                           "Call-ID: exact\r\n");
    ASSERT_TRUE(msg);
    EXPECT_EQ(msg->call_id, "exact");
    EXPECT_EQ(msg->branch, "");
    EXPECT_EQ(msg->method, "CANCEL"); // the CSeq decides, not the request line
    EXPECT_EQ(msg->cseq, 7);
    EXPECT_EQ(msg->event, "presence");
}

TEST(SipParser, ChallengesBillingAndMessageBody)
{
    const auto challenged = parse(
        "SIP/2.0 407 Proxy Authentication Required\r\n"
        "WWW-Authenticate: Digest realm=\"sip.example.net\", nonce=\"abc123\", qop=\"auth\"\r\n"
        "Proxy-Authenticate: Digest nonce=\"n2\"\r\n"
        "KestrelBilling: balance:12.50:currency:ZAR\r\n"
        "Content-Length: 0\r\n\r\nv=0\r\nc=IN IP4 1.2.3.4\r\n");
    ASSERT_TRUE(challenged);
    ASSERT_EQ(challenged->challenges.size(), 2u);
    EXPECT_EQ(challenged->challenges[0].realm, "sip.example.net");
    EXPECT_EQ(challenged->challenges[0].nonce, "abc123");
    EXPECT_EQ(challenged->challenges[1].realm, "");
    EXPECT_EQ(challenged->challenges[1].nonce, "n2");
    EXPECT_EQ(challenged->challenge_names,
              (std::vector<std::string>{"WWW-Authenticate", "Proxy-Authenticate"}));
    EXPECT_EQ(challenged->balance, "12.50");
    EXPECT_EQ(challenged->currency, "ZAR");
    EXPECT_FALSE(challenged->sdp); // Content-Length 0: the body is not read

    const auto message = parse("MESSAGE sip:a@b SIP/2.0\r\n"
                               "KestrelBilling: balance 3.10 currency USD\r\n"
                               "CSeq: 1 MESSAGE\r\nContent-Length: 20\r\n\r\n"
                               "first line\r\nsecond line\r\n");
    ASSERT_TRUE(message);
    EXPECT_EQ(message->message_text, "first line");
    EXPECT_EQ(message->balance, "3.10");
    EXPECT_EQ(message->currency, "USD");
    EXPECT_FALSE(message->sdp);
}

TEST(SipParser, NameAddrForms)
{
    struct Case {
        std::string value;
        SipAddress want;
    } cases[] = {
        {"\"Alice\" <sip:alice@example.com:5060>;tag=abc",
         {"Alice", "alice", "example.com", 5060, "abc", -1}},
        {"<sip:bob@example.com>", {"", "bob", "example.com", -1, "", -1}},
        {"sip:bob@example.com;tag=7", {"", "", "", -1, "7", -1}},
        {"\"Bob\"<sip:bob@ host:>;expires=60", {"Bob", "bob", "host", -1, "", -1}},
        // Hostile: nothing closes the quote, the URI or the tag.
        {"\"Unclosed <sip:a@b", {"Unclosed <sip:a@b", "a", "b", -1, "", -1}},
        {"<sip:alice", {"", "alice", "", -1, "", -1}},
        {"<sip:alice@host:50", {"", "alice", "host", 50, "", -1}},
        {"<sip:", {"", "", "", -1, "", -1}},
        {"x;tag=", {"", "", "", -1, "", -1}},
        {"\"", {"", "", "", -1, "", -1}},
    };
    for (const auto& c : cases) {
        const SipAddress got = parse_name_addr(c.value);
        EXPECT_EQ(got.display, c.want.display) << c.value;
        EXPECT_EQ(got.user, c.want.user) << c.value;
        EXPECT_EQ(got.host, c.want.host) << c.value;
        EXPECT_EQ(got.port, c.want.port) << c.value;
        EXPECT_EQ(got.tag, c.want.tag) << c.value;
        EXPECT_EQ(got.expires, -1) << c.value;
    }
}

TEST(SipParser, HostileTextsEndInsideTheText)
{
    const std::string cases[] = {
        "INVITE sip:a@b SIP/2.0\r\n",               // cut after the start line
        "INVITE sip:a@b SIP/2.0\r\nVia",            // name without its colon
        "INVITE sip:a@b SIP/2.0\r\nVia:",           // nothing after the colon
        "INVITE sip:a@b SIP/2.0\r\nVia: x;branch=", // value cut
        "SIP/2.0 401 X\r\nWWW-Authenticate: Digest realm=\"open nonce=\"", // unterminated
        "SIP/2.0 401 X\r\nWWW-Authenticate: realm=",           // shorter than the skipped bytes
        "INVITE sip:a@b SIP/2.0\r\nContent-Length: 99\r\n",    // no blank line
        "INVITE sip:a@b SIP/2.0\r\nContent-Length: 9\r\n\r\n", // empty body
        "INVITE sip:a@b SIP/2.0\r\nContent-Length: 9\r\n\r\na=local:1+2", // address without port
        "INVITE sip:a@b SIP/2.0\r\nContent-Length: 9\r\n\r\na=stunned:",
        "INVITE sip:a@b SIP/2.0\r\nContent-Length: 9\r\n\r\nm=",
        "INVITE sip:a@b SIP/2.0\r\nCSeq:\r\nKestrelBilling:\r\nFrom: \"\r\n",
        "INVITE sip:a@b SIP/2.0\r\nContact: <sip:a@b;alias=x",
        "INVITE sip:a@b SIP/2.0\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n: x\r\n",
    };
    for (const auto& text : cases) {
        // An exactly sized copy: a read past its end is caught by ASan.
        const std::vector<char> bytes(text.begin(), text.end());
        const auto msg = parse(std::string_view(bytes.data(), bytes.size()));
        ASSERT_TRUE(msg) << text;
        EXPECT_LE(msg->content_length, 99) << text;
        EXPECT_TRUE(msg->via_list.empty() || msg->via_list.size() == 1u) << text;
    }
    const auto cut = parse("INVITE sip:a@b SIP/2.0\r\nContent-Length: 9\r\n\r\na=local:1+2");
    ASSERT_TRUE(cut && cut->sdp);
    EXPECT_EQ(cut->sdp->local_address, "1.2");
    EXPECT_EQ(cut->sdp->local_port, 0);
    EXPECT_EQ(parse("BYE sip:a@b")->request_line, "BYE sip:a@b"); // cut inside the line
    // A line starting with ':' names no header (the empty name is not Via).
    EXPECT_TRUE(parse(cases[13])->via_list.empty());
}

} // namespace
} // namespace vokar
