#include "sip/sip_builder.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace vokar {
namespace {

SipCore test_core()
{
    SipCore core;
    core.username = "4915112345678";
    core.password = "secret";
    core.domain = "sip.example.net";
    core.display_name = "Alice";
    core.local_ip = "192.0.2.23";
    core.sip_port = 5098;
    return core;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        out.push_back(text.substr(start, end - start));
    out.push_back(text.substr(start));
    return out;
}

// The text with its random numbers (branches, tags, Call-ID) written as '#'.
std::string masked(const std::string& text)
{
    static const std::regex random(R"((z9hG4bK|tag=|Call-ID: |#-)[0-9]+)");
    return std::regex_replace(std::regex_replace(text, random, "$1#"), random, "$1#");
}

TEST(SipBuilder, FirstRegisterAndUnregistration)
{
    const std::string text = "REGISTER sip:4915112345678@sip.example.net SIP/2.0\r\n"
                             "Via: SIP/2.0/UDP 192.0.2.23:5098;rport;branch=z9hG4bK#\r\n"
                             "Max-Forwards: 80\r\n"
                             "From: \"Alice\"<sip:4915112345678@sip.example.net>;tag=#\r\n"
                             "To: <sip:4915112345678@sip.example.net>\r\n"
                             "Call-ID: #-#-4915112345678\r\n"
                             "Contact: <sip:4915112345678@192.0.2.23:5098>;expires=1200\r\n"
                             "CSeq: 1 REGISTER\r\n"
                             "Content-Length: 0\r\n"
                             "User-Agent: Dozi Dozevir Avurur Ure rovov v2.0b\r\n"
                             "\r\n";
    EXPECT_EQ(masked(new_request(test_core(), 1, "REGISTER", "", "", 1200).to_text().str()), text);
    EXPECT_EQ(lines(new_request(test_core(), 2, "REGISTER", "", "", 0).to_text().str())[6],
              "Contact: <sip:4915112345678@192.0.2.23:5098>;expires=0");
}

TEST(SipBuilder, InviteWithSdp)
{
    SipCore core = test_core();
    core.add_codec(3);
    core.add_codec(97);
    SipMessage invite = new_request(core, 3, "INVITE", "4930987654", "sip.example.net", -1);
    const SdpSession offer = local_session(core);
    invite.set_sdp_body(local_session(core));
    invite.set_sdp_body(offer); // replaces the first body
    const std::string sdp = sdp_text(offer);
    EXPECT_EQ(masked(invite.to_text().str()),
              "INVITE sip:4930987654@sip.example.net SIP/2.0\r\n"
              "Via: SIP/2.0/UDP 192.0.2.23:5098;rport;branch=z9hG4bK#\r\n"
              "Max-Forwards: 80\r\n"
              "From: \"Alice\"<sip:4915112345678@sip.example.net>;tag=#\r\n"
              "To: <sip:4930987654@sip.example.net>\r\n"
              "Call-ID: #-#-4915112345678\r\n"
              "Contact: <sip:4915112345678@192.0.2.23:5098>\r\n"
              "CSeq: 3 INVITE\r\n"
              "Content-Type: application/sdp\r\n"
              "Content-Length: " +
                  std::to_string(sdp.size()) +
                  "\r\n"
                  "User-Agent: Dozi Dozevir Avurur Ure rovov v2.0b\r\n"
                  "\r\n" +
                  masked(sdp) + "\r\n");
}

// A dialog as the stack keeps it after an INVITE went out through a proxy
// and a provisional answer came back.
SipDialog invite_dialog()
{
    SipDialog dialog;
    dialog.kind = SipDialog::kInvite;
    dialog.client_side = true;
    dialog.method = "INVITE";
    dialog.call_id = "11-22-4915112345678";
    dialog.local_tag = "4242";
    dialog.remote_address = parse_name_addr("<sip:4930987654@sip.example.net>");
    const auto ringing =
        parse("SIP/2.0 180 Ringing\r\n"
              "Via: SIP/2.0/UDP 192.0.2.23:5098;rport=5098;branch=z9hG4bKa77\r\n"
              "Record-Route: <sip:198.51.100.20;lr>\r\n"
              "Record-Route: <sip:198.51.100.10;lr>\r\n"
              "To: <sip:4930987654@sip.example.net>;tag=remote9\r\n"
              "Contact: <sip:4930987654@198.51.100.80;alias=203.0.113.9~5060~1>\r\n"
              "CSeq: 3 INVITE\r\n\r\n");
    dialog.update_from_response(*ringing);
    dialog.challenges.push_back(
        {"sip.example.net", "6931f2a8", kProxyAuthenticate, {}, {}, {}, {}});
    return dialog;
}

TEST(SipBuilder, RequestsInsideADialog)
{
    const SipCore core = test_core();
    SipDialog dialog = invite_dialog();
    struct Case {
        const char* method;
        bool confirmed;
        const char* branch; // '#' digits
        const char* to;
    } cases[] = {
        {"ACK", true, "z9hG4bKa77", "To: <sip:4930987654@sip.example.net>;tag=remote9"},
        {"CANCEL", true, "z9hG4bKa77", "To: <sip:4930987654@sip.example.net>"},
        {"BYE", true, "z9hG4bK#", "To: <sip:4930987654@sip.example.net>;tag=remote9"},
        {"BYE", false, "z9hG4bK#", "To: <sip:4930987654@sip.example.net>"},
        {"ACK", false, "z9hG4bKa77", "To: <sip:4930987654@sip.example.net>;tag=remote9"},
    };
    for (const auto& c : cases) {
        dialog.confirmed = c.confirmed;
        const std::string text = dialog_request(core, dialog, 4, c.method, -1).to_text().str();
        const std::string m = c.method;
        EXPECT_EQ(masked(text.substr(0, text.find("\r\nMax-Forwards"))),
                  m + " sip:4930987654@198.51.100.80;alias=203.0.113.9~5060~1 SIP/2.0\r\n" +
                      "Via: SIP/2.0/UDP 192.0.2.23:5098;rport;branch=" + c.branch +
                      "\r\nRoute: <sip:198.51.100.10;lr>\r\nRoute: <sip:198.51.100.20;lr>");
        EXPECT_NE(text.find("\r\n" + std::string(c.to) + "\r\n"), std::string::npos) << m;
        EXPECT_NE(text.find("\r\nFrom: \"Alice\"<sip:4915112345678@sip.example.net>;tag=4242\r\n"),
                  std::string::npos);
        EXPECT_NE(text.find("\r\nProxy-Authorization: Digest username=\"4915112345678\""),
                  std::string::npos);
        EXPECT_NE(text.find("\r\nCSeq: 4 " + m + "\r\nProxy-Authorization"), std::string::npos);
    }

    // A REGISTER re-sent after a 401 carries neither the 401's To tag nor
    // its Contact.
    SipDialog registration;
    registration.client_side = registration.confirmed = true;
    registration.update_from_response(*parse("SIP/2.0 401 Unauthorized\r\n"
                                             "To: <sip:4915112345678@sip.example.net>;tag=x1\r\n"
                                             "Contact: <sip:elsewhere@198.51.100.10>\r\n\r\n"));
    EXPECT_EQ(lines(dialog_request(core, registration, 2, "REGISTER", 1200).to_text().str())[0],
              "REGISTER sip:4915112345678@sip.example.net SIP/2.0");
    EXPECT_EQ(registration.remote_address.tag, "");

    // A CANCEL before any response: no branch to reuse yet, and the request
    // line falls back to the To address.
    SipDialog fresh;
    fresh.remote_address = parse_name_addr("<sip:4930987654@sip.example.net>");
    const auto cancel = lines(dialog_request(core, fresh, 3, "CANCEL", -1).to_text().str());
    EXPECT_EQ(cancel[0], "CANCEL sip:4930987654@sip.example.net SIP/2.0");
    EXPECT_EQ(cancel[1], "Via: SIP/2.0/UDP 192.0.2.23:5098;rport;branch=");
}

TEST(SipBuilder, ResponsesEchoTheRequestsViasAndCSeq)
{
    const SipCore core = test_core();
    SipDialog dialog;
    dialog.method = "INVITE";
    dialog.call_id = "8f14e45f@198.51.100.80";
    dialog.local_tag = "555";
    dialog.remote_address = parse_name_addr("\"Bob\" <sip:4930987654@sip.example.net>;tag=77a1c");
    // A BYE relayed by a proxy without Record-Route.
    dialog.update_from_request(*parse("BYE sip:4915112345678@192.0.2.23:5098 SIP/2.0\r\n"
                                      "Via: SIP/2.0/UDP 198.51.100.10;branch=z9hG4bKp\r\n"
                                      "Via: SIP/2.0/UDP 198.51.100.80;branch=z9hG4bKc\r\n"
                                      "CSeq: 13 BYE\r\n\r\n"));
    const std::string ok = new_response(core, dialog, kReasonCallTerminated, 200).to_text().str();
    EXPECT_EQ(ok, "SIP/2.0 200 OK - Call terminated on this end\r\n"
                  "Via: SIP/2.0/UDP 198.51.100.10;branch=z9hG4bKp\r\n"
                  "Via: SIP/2.0/UDP 198.51.100.80;branch=z9hG4bKc\r\n"
                  "Max-Forwards: 80\r\n"
                  "From: \"Bob\"<sip:4930987654@sip.example.net>;tag=77a1c\r\n"
                  "To: \"Alice\"<sip:4915112345678@sip.example.net>;tag=555\r\n"
                  "Call-ID: 8f14e45f@198.51.100.80\r\n"
                  "Contact: <sip:4915112345678@192.0.2.23:5098>\r\n"
                  "CSeq: 13 BYE\r\n"
                  "Content-Length: 0\r\n"
                  "User-Agent: Dozi Dozevir Avurur Ure rovov v2.0b\r\n"
                  "\r\n");

    // An answer with SDP, record-routed; without a local tag a fresh one.
    dialog.local_tag.clear();
    dialog.record_route = "<sip:198.51.100.10;lr>";
    SipCore media = core;
    media.add_codec(97);
    SipMessage answer = new_response(media, dialog, kReasonCallAccepted, 200);
    answer.set_sdp_body(local_session(media));
    const std::string text = answer.to_text().str();
    EXPECT_EQ(masked(lines(text)[6]), "To: \"Alice\"<sip:4915112345678@sip.example.net>;tag=#");
    EXPECT_EQ(lines(text)[3], "Record-Route: <sip:198.51.100.10;lr>");
    EXPECT_NE(text.find("\r\nContent-Type: application/sdp\r\nContent-Length: " +
                        std::to_string(answer.body.size()) + "\r\nUser-Agent: "),
              std::string::npos);
    EXPECT_EQ(text.substr(text.size() - answer.body.size() - 4), "\r\n" + answer.body + "\r\n");
}

TEST(SipBuilder, SubscribeAndPublishHeaders)
{
    const SipCore core = test_core();
    const auto tail = [&](const char* method, const char* user, int expires) {
        const std::string text = new_request(core, 1, method, user, "h", expires).to_text().str();
        const size_t cseq = text.find("\r\nCSeq:");
        return text.substr(text.find("\r\n", cseq + 2));
    };
    const std::string ua =
        "\r\nContent-Length: 0\r\nUser-Agent: Dozi Dozevir Avurur Ure rovov v2.0b\r\n\r\n";
    EXPECT_EQ(tail("SUBSCRIBE", "other", -1),
              "\r\nEvent: presence\r\nAccept: application/watcherinfo+xml" + ua);
    EXPECT_EQ(tail("SUBSCRIBE", "4915112345678", 600),
              "\r\nEvent: presence.winfo\r\nAccept: application/watcherinfo+xml\r\nExpires: 600" +
                  ua);
    EXPECT_EQ(tail("PUBLISH", "other", -1), "\r\nEvent: presence\r\nExpires: 3600" + ua);
}

TEST(SipBuilder, AddressFormatting)
{
    EXPECT_EQ(format_address({"", "", "", -1, "t1", -1}), ">;tag=t1");
    EXPECT_EQ(format_address({"", "user", "", 5060, "", 0}), ":5060>;expires=0");
    EXPECT_EQ(format_address({"D", "u", "h", -1, "", -1}), "\"D\"<sip:u@h>");
}

} // namespace
} // namespace vokar
