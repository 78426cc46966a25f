#include "tests/operator/xmpp_login.h"

#include <algorithm>
#include <map>

#include "base/md5.h"

namespace vokar::test {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string encode64(std::string_view bytes)
{
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t group = 0;
        for (size_t k = 0; k < 3; ++k)
            group = (group << 8) | (k < n ? static_cast<uint8_t>(bytes[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k)
            out += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

std::string decode64(std::string_view text)
{
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        const auto value = kAlphabet.find(c);
        if (value == std::string_view::npos)
            continue;
        bits = (bits << 6) | static_cast<uint32_t>(value);
        if ((count += 6) >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xff);
        }
    }
    return out;
}

// name="value" or name=value pairs of a DIGEST-MD5 challenge.
std::map<std::string, std::string> directives(std::string_view text)
{
    std::map<std::string, std::string> result;
    while (!text.empty()) {
        const auto eq = text.find('=');
        if (eq == std::string_view::npos)
            break;
        std::string name(text.substr(0, eq));
        text.remove_prefix(eq + 1);
        std::string value;
        if (!text.empty() && text.front() == '"') {
            const auto close = text.find('"', 1);
            value = std::string(text.substr(1, close - 1));
            text.remove_prefix(close == std::string_view::npos ? text.size() : close + 1);
        } else {
            const auto comma = text.find(',');
            value = std::string(text.substr(0, comma));
            text.remove_prefix(comma == std::string_view::npos ? text.size() : comma);
        }
        if (!text.empty() && text.front() == ',')
            text.remove_prefix(1);
        result.emplace(std::move(name), std::move(value));
    }
    return result;
}

std::string inner_text(std::string_view element)
{
    const auto open_end = element.find('>');
    const auto close = element.rfind("</");
    if (open_end == std::string_view::npos || close == std::string_view::npos || close < open_end)
        return {};
    return std::string(element.substr(open_end + 1, close - open_end - 1));
}

} // namespace

XmppLogin::XmppLogin(uint16_t port) : socket_(tcp_connect(port)) {}

std::optional<std::string> XmppLogin::read_through(std::string_view marker)
{
    size_t found;
    while ((found = buffer_.find(marker)) == std::string::npos) {
        const std::string chunk = recv_some(socket_.fd(), 65536);
        if (chunk.empty())
            return std::nullopt;
        buffer_ += chunk;
    }
    std::string head = buffer_.substr(0, found + marker.size());
    buffer_.erase(0, found + marker.size());
    return head;
}

std::optional<std::string> XmppLogin::read_sasl_element()
{
    // <challenge>..</challenge>, <success/>, <success>..</success>, <failure>..</failure>
    for (;;) {
        const auto start = buffer_.find('<');
        if (start != std::string::npos) {
            const auto name_end = buffer_.find_first_of(" />", start + 1);
            const auto tag_end = buffer_.find('>', start);
            if (name_end != std::string::npos && tag_end != std::string::npos) {
                const std::string name = buffer_.substr(start + 1, name_end - start - 1);
                size_t end = std::string::npos;
                if (buffer_[tag_end - 1] == '/') {
                    end = tag_end + 1;
                } else if (const auto close = buffer_.find("</" + name + ">", tag_end);
                           close != std::string::npos) {
                    end = close + name.size() + 3;
                }
                if (end != std::string::npos) {
                    std::string element = buffer_.substr(start, end - start);
                    buffer_.erase(0, end);
                    return element;
                }
            }
        }
        const std::string chunk = recv_some(socket_.fd(), 65536);
        if (chunk.empty())
            return std::nullopt;
        buffer_ += chunk;
    }
}

std::string XmppLogin::open_stream(std::string_view domain)
{
    const std::string header = "<?xml version='1.0'?><stream:stream to='" + std::string(domain) +
                               "' xmlns='jabber:client' "
                               "xmlns:stream='http://etherx.jabber.org/streams' version='1.0'>";
    if (!send_all(socket_.fd(), header))
        return {};
    return read_through("</stream:features>").value_or("");
}

XmppLogin::Result XmppLogin::digest_md5(std::string_view user, std::string_view password,
                                        std::string_view domain)
{
    constexpr std::string_view kSasl = "urn:ietf:params:xml:ns:xmpp-sasl";
    last_.clear();
    if (!send_all(socket_.fd(),
                  "<auth xmlns='" + std::string(kSasl) + "' mechanism='DIGEST-MD5'/>"))
        return Result::broken;
    auto element = read_sasl_element();
    if (!element || !element->starts_with("<challenge"))
        return (last_ = element.value_or(""), Result::broken);
    challenge_ = decode64(inner_text(*element));
    auto fields = directives(challenge_);

    const std::string realm = fields["realm"];
    const std::string nonce = fields["nonce"];
    const std::string cnonce = "Vokar0test0cnonce";
    const std::string uri = "xmpp/" + std::string(domain);
    const Md5Digest a1_inner = md5(std::string(user) + ":" + realm + ":" + std::string(password));
    const std::string a1 =
        std::string(a1_inner.begin(), a1_inner.end()) + ":" + nonce + ":" + cnonce;
    const std::string response = md5_hex(md5_hex(a1) + ":" + nonce + ":00000001:" + cnonce +
                                         ":auth:" + md5_hex("AUTHENTICATE:" + uri));
    const std::string text = "username=\"" + std::string(user) + "\",realm=\"" + realm +
                             "\",nonce=\"" + nonce + "\",cnonce=\"" + cnonce +
                             "\",nc=00000001,qop=auth,digest-uri=\"" + uri +
                             "\",response=" + response + ",charset=utf-8";
    if (!send_all(socket_.fd(),
                  "<response xmlns='" + std::string(kSasl) + "'>" + encode64(text) + "</response>"))
        return Result::broken;

    element = read_sasl_element();
    if (element && element->starts_with("<challenge")) {
        // rspauth; the empty response asks for the outcome.
        if (!send_all(socket_.fd(), "<response xmlns='" + std::string(kSasl) + "'/>"))
            return Result::broken;
        element = read_sasl_element();
    }
    last_ = element.value_or("");
    if (last_.starts_with("<success"))
        return Result::success;
    if (last_.starts_with("<failure"))
        return Result::refused;
    return Result::broken;
}

XmppLogin::Result log_in(uint16_t port, std::string_view domain, std::string_view user,
                         std::string_view password)
{
    XmppLogin login(port);
    if (!login.valid() || login.open_stream(domain).empty())
        return XmppLogin::Result::broken;
    return login.digest_md5(user, password, domain);
}

} // namespace vokar::test
