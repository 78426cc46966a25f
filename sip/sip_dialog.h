#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sip/digest.h"
#include "sip/sdp.h"
#include "sip/sip_message.h"

namespace vokar {

// The state of one transaction or call that the builder reads to make
// in-dialog requests and responses.
struct SipDialog {
    enum Kind : int { kRegister = 0, kInvite = 1, kMessageReceived = 2, kNotifyReceived = 3 };

    int kind = kRegister;
    bool client_side = false;
    bool awaiting = true;
    // A response of 180 or above, or an answered request, has been seen: the
    // remote tag goes into in-dialog requests.
    bool confirmed = false;
    bool unregistering = false;
    bool proxy_auth_reported = false;
    std::string call_id;
    std::string method; // of the initial request
    std::string branch; // of the last response's Via
    std::string local_tag, remote_tag;
    SipAddress local_address, remote_address;
    // The last Contact URI received, without angle brackets, with its
    // parameters.
    std::string remote_target;
    std::string record_route;
    std::vector<std::string> route_set;
    // The Via values of the last received request, echoed in responses.
    std::vector<std::string> via_list;
    std::vector<DigestChallenge> challenges; // at most one per header name
    int auth_retries = 0;
    int last_cseq = 0;
    // The CSeq method of the last received request: responses carry it.
    std::string last_method;
    std::optional<SdpSession> local_sdp, remote_sdp;

    // Keeps what the responses to `request` echo: its Via list, CSeq and
    // Record-Route (route set in received order), and its Contact URI.
    void update_from_request(const SipMessage& request);
    // Keeps the branch and Record-Route of a response (route set reversed);
    // on the client side also the To address, and its tag and the Contact URI
    // except from a 401.
    void update_from_response(const SipMessage& response);
};

} // namespace vokar
