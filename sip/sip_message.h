#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/scan_string.h"
#include "sip/digest.h"
#include "sip/sdp.h"

namespace vokar {

// A name-addr value (From, To, Contact).
struct SipAddress {
    std::string display;
    std::string user;
    std::string host;
    int port = -1; // -1: none
    std::string tag;
    int expires = -1; // -1: none; written by the builder, never parsed
};

// A received or built SIP message. The parser fills the fields the stack
// uses; the builder fills the same fields plus the ones below "Builder only".
struct SipMessage {
    enum Kind : int { kRequest = 0, kResponse = 1 };

    int kind = kRequest;
    std::string request_line; // whole first line of a request
    int status = 0;
    // Received: the first word of the phrase ("Busy" of "Busy Here"). Built:
    // the whole phrase.
    std::string reason;
    std::string via; // the last Via value
    std::vector<std::string> via_list;
    std::string branch; // branch parameter of the last Via
    SipAddress from, to, contact;
    // The Contact's URI without angle brackets, with its URI parameters
    // (";alias=" and the like, which a proxy needs back in the request line).
    std::string contact_uri;
    std::string call_id;
    std::string cseq_text;
    int cseq = 0;
    // The CSeq method: it decides how the stack treats the message, whatever
    // the request line says.
    std::string method;
    int max_forwards = 0;
    std::string content_type;
    int content_length = 0;
    std::string record_route; // the last Record-Route value
    std::vector<std::string> route_list;
    std::vector<DigestChallenge> challenges;
    std::vector<std::string> challenge_names;
    std::string event;
    std::string balance, currency; // KestrelBilling
    std::string message_text;      // first line of a MESSAGE body
    std::optional<SdpSession> sdp; // body of any other message with a body

    // Builder only.
    std::string body;
    std::vector<std::string> send_routes; // one Route header each, in order
    std::vector<DigestChallenge> credentials;

    bool is_request() const { return kind == kRequest; }

    // Makes `session` the body: Content-Type application/sdp, Content-Length
    // its length; replaces an earlier body.
    void set_sdp_body(const SdpSession& session);
    // The message as sent on the wire.
    ScanString to_text() const;
};

// A request (a known method as its first word) or a response ("SIP/2.0"), or
// none. Tolerant: unknown or malformed headers leave their fields empty.
std::optional<SipMessage> parse(std::string_view text);

// The display name, user, host, port and tag of a From, To or Contact value.
// Only "<sip:" URIs give a user and host.
SipAddress parse_name_addr(std::string_view value);

} // namespace vokar
