#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace vokar {

struct SipCore;

// The codec template copied into every local session; only `payloads` is
// written to SDP.
struct CodecList {
    int flag = 0;
    int packet_time_ms = 20;
    std::vector<int> payloads = {3};
};

// One audio stream as offered or answered (built here) or received (parsed).
struct SdpSession {
    static constexpr size_t kMaxPayloads = 20;
    static constexpr std::array<int, kMaxPayloads> no_payloads()
    {
        std::array<int, kMaxPayloads> slots{};
        slots.fill(-1);
        return slots;
    }

    bool is_local = false;
    CodecList codec_list;
    std::string address;       // c= and o= address
    int port = 0;              // m= port
    std::string local_address; // a=local:
    int local_port = -1;
    std::string stun_address; // a=stunned:
    int stun_port = -1;
    int session_id = 0;
    std::array<int, kMaxPayloads> payloads = no_payloads();
    int payload_count = 0;

    // The first payload_count payload types.
    std::vector<int> payload_list() const
    {
        return {payloads.begin(), payloads.begin() + payload_count};
    }
};

// The rtpmap name of a payload type ("GSM/8000" for 3), or empty when it has
// none (and then no rtpmap line is written).
std::string_view rtpmap_name(int payload_type);

// This phone's offer or answer: the core's media address (its STUN mapping
// when known), payload types and a fresh session id in 1000000..1099999.
SdpSession local_session(const SipCore& core);

// The body text; every line ends with CR LF.
std::string sdp_text(const SdpSession& session);

// Reads m=, c=, o=, a=rtpmap:, a=local: and a=stunned: lines; anything else
// is ignored. Payload types count only through their rtpmap lines (0 never).
SdpSession parse_sdp(std::string_view text);

} // namespace vokar
