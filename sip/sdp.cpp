#include "sip/sdp.h"

#include <algorithm>

#include "base/random.h"
#include "sip/sip_core.h"
#include "sip/sip_text.h"

namespace vokar {
namespace {

using namespace sip_text;

constexpr ByteSet kPortEnd{":\r\n"};

bool starts_with(std::string_view line, std::string_view prefix)
{
    return line.substr(0, prefix.size()) == prefix;
}

// a=local: and a=stunned: carry an address with '+' for '.', then ':' port.
void parse_address_attribute(std::string_view line, size_t skip, std::string& address, int& port)
{
    size_t pos = std::min(skip, line.size());
    std::string text(until(line, pos, ':'));
    std::replace(text.begin(), text.end(), '+', '.');
    address = std::move(text);
    if (pos < line.size())
        ++pos;
    port = to_int(until(line, pos, kPortEnd));
}

void append_plussed(std::string& out, std::string_view address)
{
    for (const char c : address)
        out += c == '.' ? '+' : c;
}

void parse_line(SdpSession& session, std::string_view line)
{
    size_t pos = 0;
    if (starts_with(line, "m=")) {
        pos = 2;
        next_token(line, pos);
        session.port = to_int(next_token(line, pos));
    } else if (starts_with(line, "c=")) {
        pos = 2;
        next_token(line, pos);
        next_token(line, pos);
        session.address = next_token(line, pos);
    } else if (starts_with(line, "o=")) {
        next_token(line, pos);
        session.session_id = to_int(next_token(line, pos));
    } else if (starts_with(line, "a=rtpmap:")) {
        pos = 9;
        const int payload = to_int(next_token(line, pos));
        if (payload > 0 && session.payload_count < static_cast<int>(SdpSession::kMaxPayloads))
            session.payloads[static_cast<size_t>(session.payload_count++)] = payload;
    } else if (starts_with(line, "a=local:")) {
        parse_address_attribute(line, 8, session.local_address, session.local_port);
    } else if (starts_with(line, "a=stunned:")) {
        parse_address_attribute(line, 10, session.stun_address, session.stun_port);
    }
}

} // namespace

std::string_view rtpmap_name(int payload_type)
{
    switch (payload_type) {
    case 3:
        return "GSM/8000";
    case 18:
        return "g729/8000";
    case 65:
        return "vokarLPC10/8000";
    case 97:
        return "speex/8000";
    case 99:
        return "modamr/8000";
    default:
        return {};
    }
}

SdpSession local_session(const SipCore& core)
{
    SdpSession session;
    session.is_local = true;
    session.codec_list = core.codec_list;
    session.session_id = 1000000 + static_cast<int>(random_number() % 100000);
    session.address = core.local_ip;
    session.port = core.rtp_port;
    if (core.stun_port != -1 && !core.stun_ip.empty()) {
        session.address = core.stun_ip;
        session.port = core.stun_port;
        session.stun_address = core.stun_ip;
        session.stun_port = core.stun_port;
    }
    session.payloads = core.payloads;
    session.payload_count = static_cast<int>(std::count_if(
        core.payloads.begin(), core.payloads.end(), [](int payload) { return payload != -1; }));
    return session;
}

std::string sdp_text(const SdpSession& session)
{
    const int count =
        std::clamp(session.payload_count, 0, static_cast<int>(SdpSession::kMaxPayloads));
    std::string out;
    out.reserve(320);
    out += "v=0\r\no=Quillvoce ";
    out += std::to_string(session.session_id);
    out += " 1 IN IP4 ";
    out += session.address;
    out += "\r\ns=QuillVoceAudioSession\r\nc=IN IP4 ";
    out += session.address;
    out += "\r\nt=0 0\r\nm=audio ";
    out += std::to_string(session.port);
    out += " RTP/AVP";
    for (int i = 0; i < count; ++i) {
        out += ' ';
        out += std::to_string(session.payloads[static_cast<size_t>(i)]);
    }
    out += "\r\n";
    for (int i = 0; i < count; ++i) {
        const int payload = session.payloads[static_cast<size_t>(i)];
        const std::string_view name = rtpmap_name(payload);
        if (name.empty())
            continue;
        out += "a=rtpmap:";
        out += std::to_string(payload);
        out += ' ';
        out += name;
        out += "\r\n";
    }
    // The phone always sends 60 ms packets, whatever the codec list holds.
    out += "a=ptime:60\r\na=sendrecv\r\na=local:";
    append_plussed(out, session.address);
    out += ':';
    out += std::to_string(session.port);
    out += "\r\n";
    if (session.stun_port != -1) {
        out += "a=stunned:";
        append_plussed(out, session.stun_address);
        out += ':';
        out += std::to_string(session.stun_port);
        out += "\r\n";
    }
    return out;
}

SdpSession parse_sdp(std::string_view text)
{
    SdpSession session;
    size_t pos = 0;
    while (pos < text.size()) {
        const std::string_view line = until(text, pos, kLineEnds);
        skip_line_ends(text, pos);
        parse_line(session, line);
    }
    session.is_local = false;
    return session;
}

} // namespace vokar
