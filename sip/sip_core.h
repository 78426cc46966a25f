#pragma once

#include <array>
#include <string>

#include "sip/sdp.h"

namespace vokar {

// Account and endpoint data of the user agent: what the builder and the local
// SDP take from the stack.
struct SipCore {
    std::string username, password;
    std::string domain;
    std::string display_name;
    std::string local_ip; // used in Via, Contact and SDP
    int sip_port = 5090;  // the owner opens the transport with 5098
    int rtp_port = 8500;
    std::string stun_ip; // STUN-mapped media address, when known
    int stun_port = -1;
    std::string transport_name = "UDP";
    // Payload types offered in SDP, in the order added; -1 marks a free slot.
    std::array<int, SdpSession::kMaxPayloads> payloads = SdpSession::no_payloads();
    CodecList codec_list;

    // Appends a payload type; ignored once every slot is taken.
    void add_codec(int payload_type);
};

} // namespace vokar
