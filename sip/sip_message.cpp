#include "sip/sip_message.h"

#include "sip/sip_text.h"

namespace vokar {
namespace {

using namespace sip_text;

// A first word found anywhere in this list (a substring is enough) makes the
// text a request.
constexpr std::string_view kMethodList =
    "NOTIFY_MESSAGE_REGISTER_INVITE_ACK_CANCEL_OPTIONS_BYE_REFER_SUBSCRIBE_NOTIFY";

// A header is recognised when its name occurs in this list and is dispatched
// on the position of that first occurrence.
constexpr std::string_view kHeaderNames =
    "Via From To Contact Call-ID CSeq Max-Forwards Date Allow Content-Type Content-Length "
    "WWW-Authenticate Proxy-Authenticate Body Record-Route Event KestrelBilling";

constexpr ByteSet kParameterEnd{";\r\n"};
constexpr ByteSet kUserEnd{"@\n"};
constexpr ByteSet kHostEnd{">\r\n:"};
constexpr ByteSet kUriEnd{";, "};
// The reason phrase ends at a delimiter or LF (already one of them).
constexpr ByteSet kReasonEnd = kDelimiters.with("\n");
constexpr ByteSet kLineEndsAndBlanks{"\r\n "};

constexpr size_t position_of(std::string_view name)
{
    return kHeaderNames.find(name);
}

enum HeaderPosition : size_t {
    kViaAt = position_of("Via"),
    kFromAt = position_of("From"),
    kToAt = position_of("To"),
    kContactAt = position_of("Contact"),
    kCallIdAt = position_of("Call-ID"),
    kCSeqAt = position_of("CSeq"),
    kMaxForwardsAt = position_of("Max-Forwards"),
    kContentTypeAt = position_of("Content-Type"),
    kContentLengthAt = position_of("Content-Length"),
    kWwwAuthenticateAt = position_of("WWW-Authenticate"),
    kProxyAuthenticateAt = position_of("Proxy-Authenticate"),
    kRecordRouteAt = position_of("Record-Route"),
    kEventAt = position_of("Event"),
    kKestrelBillingAt = position_of("KestrelBilling"),
};
static_assert(kViaAt == 0 && kFromAt == 4 && kToAt == 9 && kContactAt == 12 && kCallIdAt == 20 &&
              kCSeqAt == 28 && kMaxForwardsAt == 33 && kContentTypeAt == 57 &&
              kContentLengthAt == 70 && kWwwAuthenticateAt == 85 && kProxyAuthenticateAt == 102 &&
              kRecordRouteAt == 126 && kEventAt == 139 && kKestrelBillingAt == 145);

// The bytes of a quoted parameter value: from 7 bytes past `name` (the name
// with its '=' and the opening quote) up to the next double quote.
std::string quoted_parameter(std::string_view value, std::string_view name)
{
    const size_t at = value.find(name);
    if (at == std::string_view::npos)
        return {};
    size_t pos = at + 7;
    return std::string(until(value, pos, '"'));
}

void parse_challenge(SipMessage& msg, std::string_view value, std::string_view header_name)
{
    DigestChallenge challenge;
    challenge.realm = quoted_parameter(value, "realm=");
    challenge.nonce = quoted_parameter(value, "nonce=");
    challenge.header_name = header_name;
    msg.challenges.push_back(std::move(challenge));
    msg.challenge_names.emplace_back(header_name);
}

// "balance 12.50 currency EUR" or "balance:12.50:currency:EUR".
void parse_billing(SipMessage& msg, std::string_view value)
{
    constexpr ByteSet kExtra = kDelimiters.with(" :\n");
    size_t pos = 0;
    next_token(value, pos, kExtra);
    msg.balance = next_token(value, pos, kExtra);
    next_token(value, pos, kExtra);
    msg.currency = next_token(value, pos, kExtra);
}

// The URI between the angle brackets (with its parameters); without brackets
// the value up to its header parameters.
std::string contact_uri(std::string_view value)
{
    size_t pos = value.find('<');
    if (pos == std::string_view::npos) {
        pos = 0;
        skip_blanks(value, pos);
        std::string_view uri = until(value, pos, kUriEnd);
        return std::string(uri);
    }
    ++pos;
    return std::string(until(value, pos, '>'));
}

void dispatch(SipMessage& msg, size_t position, std::string_view value)
{
    switch (position) {
    case kViaAt: {
        msg.via_list.emplace_back(value);
        msg.via = value;
        const size_t at = value.find("branch=");
        if (at != std::string_view::npos) {
            size_t pos = at + 7;
            msg.branch = until(value, pos, kParameterEnd);
        }
        break;
    }
    case kFromAt:
        msg.from = parse_name_addr(value);
        break;
    case kToAt:
        msg.to = parse_name_addr(value);
        break;
    case kContactAt:
        msg.contact = parse_name_addr(value);
        msg.contact_uri = contact_uri(value);
        break;
    case kCallIdAt:
        msg.call_id = value;
        break;
    case kCSeqAt: {
        size_t pos = 0;
        const std::string_view number = next_token(value, pos);
        msg.cseq_text = number;
        msg.cseq = to_int(number);
        msg.method = next_token(value, pos);
        break;
    }
    case kMaxForwardsAt:
        msg.max_forwards = to_int(value);
        break;
    case kContentTypeAt:
        msg.content_type = value;
        break;
    case kContentLengthAt:
        msg.content_length = to_int(value);
        break;
    case kWwwAuthenticateAt:
        parse_challenge(msg, value, kWwwAuthenticate);
        break;
    case kProxyAuthenticateAt:
        parse_challenge(msg, value, kProxyAuthenticate);
        break;
    case kRecordRouteAt:
        msg.record_route = value;
        msg.route_list.emplace_back(value);
        break;
    case kEventAt:
        msg.event = value;
        break;
    case kKestrelBillingAt:
        parse_billing(msg, value);
        break;
    default: // Date, Allow, Body, and names that are only part of a listed one
        break;
    }
}

void parse_body(SipMessage& msg, std::string_view text)
{
    if (msg.content_length < 1)
        return;
    const size_t blank_line = text.find("\r\n\r\n");
    if (blank_line == std::string_view::npos || blank_line == 0)
        return;
    const std::string_view body = text.substr(blank_line + 4);
    if (msg.method == "MESSAGE") {
        size_t pos = 0;
        msg.message_text = until(body, pos, '\r');
    } else if (msg.method != "NOTIFY") {
        msg.sdp = parse_sdp(body);
    }
}

} // namespace

SipAddress parse_name_addr(std::string_view value)
{
    SipAddress address;
    size_t pos = 0;
    skip_blanks(value, pos);
    if (pos < value.size() && value[pos] == '"') {
        ++pos;
        address.display = until(value, pos, '"');
        if (pos < value.size())
            ++pos;
        skip_blanks(value, pos);
    }
    const size_t uri = value.find("<sip:");
    if (uri != std::string_view::npos) {
        pos = uri + 5;
        address.user = until(value, pos, kUserEnd);
        if (pos < value.size() && value[pos] == '@')
            ++pos;
        skip_blanks(value, pos);
        address.host = until(value, pos, kHostEnd);
        if (pos < value.size() && value[pos] == ':') {
            ++pos;
            const std::string_view port = until(value, pos, kHostEnd);
            address.port = port.empty() ? -1 : to_int(port);
        }
    }
    const size_t tag = value.find("tag=");
    if (tag != std::string_view::npos) {
        pos = tag + 4;
        address.tag = until(value, pos, kParameterEnd);
    }
    return address;
}

std::optional<SipMessage> parse(std::string_view text)
{
    // The first word ends at the first blank after at least 3 bytes.
    const size_t blank = text.find(' ', 3);
    if (blank == std::string_view::npos)
        return std::nullopt;
    const std::string_view first_word = text.substr(0, blank);

    SipMessage msg;
    if (kMethodList.find(first_word) != std::string_view::npos)
        msg.kind = SipMessage::kRequest;
    else if (first_word == "SIP/2.0")
        msg.kind = SipMessage::kResponse;
    else
        return std::nullopt;

    size_t pos = 0;
    const std::string_view line = until(text, pos, kLineEnds);
    if (msg.kind == SipMessage::kRequest)
        msg.request_line = line;
    if (pos == text.size())
        return msg; // cut inside the start line
    if (msg.kind == SipMessage::kResponse) {
        size_t at = line.find("SIP/2.0") + 7;
        msg.status = to_int(next_token(line, at));
        msg.reason = next_token(line, at, kReasonEnd);
    }
    skip_line_ends(text, pos);

    while (pos < text.size()) {
        // A name runs up to the next ':', across line ends if need be; such
        // a name matches nothing and its line is skipped.
        const size_t colon = text.find(':', pos);
        if (colon == std::string_view::npos)
            break;
        const std::string_view name = text.substr(pos, colon - pos);
        pos = colon + 1;
        if (pos < text.size() && text[pos] == ' ')
            ++pos;
        // An empty name would match the list's start, i.e. Via.
        const size_t position = name.empty() ? std::string_view::npos : kHeaderNames.find(name);
        const std::string_view value = until(text, pos, kLineEnds);
        if (position == std::string_view::npos) {
            skip_line_ends(text, pos);
            continue;
        }
        skip_line_ends(text, pos, kLineEndsAndBlanks);
        dispatch(msg, position, value);
    }
    parse_body(msg, text);
    return msg;
}

} // namespace vokar
