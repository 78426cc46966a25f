#include "sip/sip_builder.h"

#include "base/random.h"

namespace vokar {
namespace {

void add_header(std::string& out, std::string_view name, std::string_view value)
{
    if (value.empty())
        return;
    out += "\r\n";
    out += name;
    out += ": ";
    out += value;
}

void add_header(std::string& out, std::string_view name, long long value)
{
    add_header(out, name, std::string_view(std::to_string(value)));
}

std::string via_value(const SipCore& core, std::string_view branch)
{
    std::string via = "SIP/2.0/";
    via += core.transport_name;
    via += ' ';
    via += core.local_ip;
    via += ':';
    via += std::to_string(core.sip_port);
    via += ";rport;branch=";
    via += branch;
    return via;
}

std::string fresh_branch()
{
    return "z9hG4bK" + std::to_string(random_number());
}

SipAddress own_address(const SipCore& core, std::string_view host)
{
    SipAddress address;
    address.user = core.username;
    address.host = host;
    return address;
}

std::string request_line(std::string_view method, const SipAddress& to)
{
    std::string line(method);
    line += " sip:";
    line += to.user;
    line += '@';
    line += to.host;
    line += " SIP/2.0";
    return line;
}

bool is_bodyless_method(std::string_view method)
{
    return method == "ACK" || method == "BYE" || method == "CANCEL";
}

// Max-Forwards, From, To, Call-ID, Contact and CSeq, common to both kinds.
void add_dialog_headers(std::string& out, const SipMessage& msg)
{
    add_header(out, "Max-Forwards", msg.max_forwards);
    add_header(out, "From", format_address(msg.from));
    add_header(out, "To", format_address(msg.to));
    add_header(out, "Call-ID", msg.call_id);
    add_header(out, "Contact", format_address(msg.contact));
    add_header(out, "CSeq", std::to_string(msg.cseq) + " " + msg.method);
}

void add_user_agent(std::string& out)
{
    out += "\r\nUser-Agent: ";
    out += kSipUserAgent;
    out += "\r\n";
}

std::string request_text(const SipMessage& msg)
{
    std::string out;
    out.reserve(512 + msg.body.size());
    out += msg.request_line;
    add_header(out, "Via", msg.via);
    for (const auto& route : msg.send_routes)
        add_header(out, "Route", route);
    add_dialog_headers(out, msg);
    for (const auto& credentials : msg.credentials) {
        const std::string_view name = authorization_header_name(credentials.header_name);
        if (!name.empty())
            add_header(out, name, credentials_value(credentials));
    }
    if (msg.method == "SUBSCRIBE") {
        if (msg.to.user != msg.from.user) {
            add_header(out, "Event", "presence");
            add_header(out, "Accept", "application/watcherinfo+xml");
        } else {
            add_header(out, "Event", "presence.winfo");
            add_header(out, "Accept", "application/watcherinfo+xml");
            if (msg.contact.expires >= 0)
                add_header(out, "Expires", msg.contact.expires);
        }
    } else if (msg.method == "PUBLISH") {
        add_header(out, "Event", "presence");
        add_header(out, "Expires", "3600");
    }
    const bool with_body = msg.content_length > 0 && !is_bodyless_method(msg.method);
    if (with_body)
        add_header(out, "Content-Type", msg.content_type);
    add_header(out, "Content-Length", with_body ? msg.content_length : 0);
    add_user_agent(out);
    if (with_body) {
        out += "\r\n";
        out += msg.body;
    }
    out += "\r\n";
    return out;
}

std::string response_text(const SipMessage& msg)
{
    std::string out;
    out.reserve(512 + msg.body.size());
    out += "SIP/2.0 ";
    out += std::to_string(msg.status);
    out += ' ';
    out += msg.reason;
    for (const auto& via : msg.via_list)
        add_header(out, "Via", via);
    add_header(out, "Record-Route", msg.record_route);
    add_dialog_headers(out, msg);
    if (msg.content_length > 0)
        add_header(out, "Content-Type", msg.content_type);
    add_header(out, "Content-Length", msg.content_length);
    add_user_agent(out);
    out += "\r\n";
    if (!msg.body.empty()) {
        out += msg.body;
        out += "\r\n";
    }
    return out;
}

} // namespace

std::string format_address(const SipAddress& address)
{
    std::string out;
    if (!address.display.empty()) {
        out += '"';
        out += address.display;
        out += '"';
    }
    if (!address.user.empty() && !address.host.empty()) {
        out += "<sip:";
        out += address.user;
        out += '@';
        out += address.host;
    }
    if (address.port > 0) {
        out += ':';
        out += std::to_string(address.port);
    }
    out += '>';
    if (!address.tag.empty()) {
        out += ";tag=";
        out += address.tag;
    }
    if (address.expires != -1) {
        out += ";expires=";
        out += std::to_string(address.expires);
    }
    return out;
}

void SipMessage::set_sdp_body(const SdpSession& session)
{
    content_type = "application/sdp";
    body = sdp_text(session);
    content_length = static_cast<int>(body.size());
}

ScanString SipMessage::to_text() const
{
    return ScanString(kind == kRequest ? request_text(*this) : response_text(*this));
}

SipMessage new_request(const SipCore& core, int cseq, std::string_view method,
                       std::string_view target_user, std::string_view target_host,
                       int contact_expires)
{
    SipMessage msg;
    msg.kind = SipMessage::kRequest;
    msg.branch = fresh_branch();
    msg.via = via_value(core, msg.branch);
    msg.via_list = {msg.via};
    msg.max_forwards = 80;
    msg.content_length = 0;
    msg.cseq = cseq;
    msg.method = method;
    msg.call_id = std::to_string(random_number()) + "-" + std::to_string(random_number()) + "-" +
                  core.username;
    if (!target_user.empty()) {
        msg.to.user = target_user;
        msg.to.host = target_host;
    } else {
        msg.to = own_address(core, core.domain);
    }
    msg.from = own_address(core, core.domain);
    msg.from.tag = std::to_string(random_number());
    msg.from.display = core.display_name;
    msg.request_line = request_line(method, msg.to);
    msg.contact = own_address(core, core.local_ip);
    msg.contact.expires = contact_expires;
    msg.contact.port = core.sip_port;
    return msg;
}

SipMessage dialog_request(const SipCore& core, const SipDialog& dialog, int cseq,
                          std::string_view method, int contact_expires)
{
    SipMessage msg;
    msg.kind = SipMessage::kRequest;
    // ACK and CANCEL belong to the transaction of the request they answer.
    const bool same_transaction = method == "ACK" || method == "CANCEL";
    msg.branch = same_transaction ? dialog.branch : fresh_branch();
    msg.via = via_value(core, msg.branch);
    msg.via_list = {msg.via};
    if (!dialog.record_route.empty()) {
        msg.record_route = dialog.record_route;
        msg.send_routes = dialog.route_set;
    }
    msg.max_forwards = 80;
    msg.content_length = 0;
    msg.cseq = cseq;
    msg.method = method;
    msg.call_id = dialog.call_id;
    msg.to.user = dialog.remote_address.user;
    msg.to.host = dialog.remote_address.host;
    msg.to.tag = dialog.remote_address.tag;
    msg.to.display = dialog.remote_address.display;
    if ((!dialog.confirmed || method == "CANCEL") && method != "ACK")
        msg.to.tag.clear();
    msg.from = own_address(core, core.domain);
    msg.from.tag = dialog.local_tag;
    msg.from.display = core.display_name;
    if (!dialog.remote_target.empty())
        msg.request_line = std::string(method) + " " + dialog.remote_target + " SIP/2.0";
    else
        msg.request_line = request_line(method, msg.to);
    msg.contact = own_address(core, core.local_ip);
    msg.contact.expires = dialog.unregistering ? 0 : contact_expires;
    msg.contact.port = core.sip_port;
    for (const auto& challenge : dialog.challenges) {
        DigestChallenge credentials;
        credentials.username = core.username;
        credentials.password = core.password;
        credentials.uri = "sip:" + core.domain;
        credentials.realm = challenge.realm;
        credentials.nonce = challenge.nonce;
        credentials.method = method;
        credentials.header_name = challenge.header_name;
        msg.credentials.push_back(std::move(credentials));
    }
    return msg;
}

SipMessage new_response(const SipCore& core, const SipDialog& dialog, std::string_view reason,
                        int status)
{
    SipMessage msg;
    msg.kind = SipMessage::kResponse;
    msg.max_forwards = 80;
    msg.status = status;
    msg.reason = reason;
    msg.call_id = dialog.call_id;
    // The CSeq method is that of the request being answered (a BYE inside an
    // INVITE dialog is answered with "BYE").
    msg.method = dialog.last_method.empty() ? dialog.method : dialog.last_method;
    msg.cseq = dialog.last_cseq;
    msg.content_length = 0;
    msg.record_route = dialog.record_route;
    msg.via_list = dialog.via_list;
    msg.from = dialog.remote_address;
    msg.to = own_address(core, core.domain);
    msg.to.tag = dialog.local_tag.empty() ? std::to_string(random_number()) : dialog.local_tag;
    msg.to.display = core.display_name;
    msg.contact = own_address(core, core.local_ip);
    msg.contact.port = core.sip_port;
    return msg;
}

} // namespace vokar
