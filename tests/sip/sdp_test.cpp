#include "sip/sdp.h"

#include <gtest/gtest.h>

#include <string>

#include "sip/sip_core.h"

namespace vokar {
namespace {

TEST(Sdp, LocalOfferText)
{
    SipCore core;
    core.local_ip = "10.1.2.3";
    core.add_codec(3);
    core.add_codec(97);
    core.add_codec(8); // no rtpmap name
    SdpSession offer = local_session(core);
    EXPECT_TRUE(offer.is_local);
    EXPECT_GE(offer.session_id, 1000000);
    EXPECT_LE(offer.session_id, 1000000 + 99999);
    offer.session_id = 1042317;
    EXPECT_EQ(sdp_text(offer), "v=0\r\n"
                               "o=Quillvoce 1042317 1 IN IP4 10.1.2.3\r\n"
                               "s=QuillVoceAudioSession\r\n"
                               "c=IN IP4 10.1.2.3\r\n"
                               "t=0 0\r\n"
                               "m=audio 8500 RTP/AVP 3 97 8\r\n"
                               "a=rtpmap:3 GSM/8000\r\n"
                               "a=rtpmap:97 speex/8000\r\n"
                               "a=ptime:60\r\n"
                               "a=sendrecv\r\n"
                               "a=local:10+1+2+3:8500\r\n");

    // With a STUN mapping both address lines carry it; no payloads leave the
    // media line bare.
    SipCore mapped;
    mapped.local_ip = "10.1.2.3";
    mapped.stun_ip = "203.0.113.45";
    mapped.stun_port = 41000;
    const std::string text = sdp_text(local_session(mapped));
    EXPECT_NE(text.find("\r\nc=IN IP4 203.0.113.45\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nm=audio 41000 RTP/AVP\r\na=ptime:60\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\na=local:203+0+113+45:41000\r\na=stunned:203+0+113+45:41000\r\n"),
              std::string::npos);
}

TEST(Sdp, RoundTripKeepsEveryWrittenField)
{
    SdpSession sent;
    sent.session_id = 1099999;
    sent.address = "203.0.113.45";
    sent.port = 41000;
    sent.stun_address = "203.0.113.45";
    sent.stun_port = 41000;
    for (const int payload : {97, 3, 18, 65, 99})
        sent.payloads[static_cast<size_t>(sent.payload_count++)] = payload;
    const SdpSession got = parse_sdp(sdp_text(sent));
    EXPECT_FALSE(got.is_local);
    EXPECT_EQ(got.session_id, sent.session_id);
    EXPECT_EQ(got.address, sent.address);
    EXPECT_EQ(got.port, sent.port);
    EXPECT_EQ(got.local_address, sent.address);
    EXPECT_EQ(got.local_port, sent.port);
    EXPECT_EQ(got.stun_address, sent.stun_address);
    EXPECT_EQ(got.stun_port, sent.stun_port);
    EXPECT_EQ(got.payload_list(), sent.payload_list());
}

TEST(Sdp, ParsingRecordsOnlyRtpmapPayloads)
{
    std::string text = "m=audio 8500 RTP/AVP 0 3 97 8\n"
                       "a=rtpmap:0 PCMU/8000\na=rtpmap:3 GSM/8000\na=rtpmap:97 speex/8000\n";
    EXPECT_EQ(parse_sdp(text).payload_list(), (std::vector<int>{3, 97}));
    for (int i = 100; i < 130; ++i)
        text += "a=rtpmap:" + std::to_string(i) + " x/8000\r\n";
    EXPECT_EQ(parse_sdp(text).payload_count, static_cast<int>(SdpSession::kMaxPayloads));
    const SdpSession none = parse_sdp("v=0\r\n");
    EXPECT_EQ(none.local_port, -1);
    EXPECT_EQ(none.stun_port, -1);
}

} // namespace
} // namespace vokar
