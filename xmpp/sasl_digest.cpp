#include "xmpp/sasl_digest.h"

#include "base/md5.h"

namespace vokar::sasl {
namespace {

bool is_separator(char c)
{
    return c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

std::map<std::string, std::string, std::less<>> parse_challenge(std::string_view text)
{
    std::map<std::string, std::string, std::less<>> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && is_separator(text[i]))
            ++i;
        const size_t name_start = i;
        while (i < text.size() && text[i] != '=' && !is_separator(text[i]))
            ++i;
        std::string name(text.substr(name_start, i - name_start));
        std::string value;
        if (i < text.size() && text[i] == '=') {
            ++i;
            if (i < text.size() && text[i] == '"') {
                ++i;
                while (i < text.size() && text[i] != '"') {
                    if (text[i] == '\\' && i + 1 < text.size())
                        ++i; // quoted-pair
                    value += text[i++];
                }
                if (i < text.size())
                    ++i; // closing quote
            } else {
                while (i < text.size() && text[i] != ',')
                    value += text[i++];
                while (!value.empty() && is_separator(value.back()))
                    value.pop_back();
            }
        }
        // Skip to the next directive.
        while (i < text.size() && text[i] != ',')
            ++i;
        if (!name.empty())
            out.emplace(std::move(name), std::move(value));
    }
    return out;
}

std::string response_value(std::string_view username, std::string_view password,
                           std::string_view realm, std::string_view nonce, std::string_view cnonce,
                           std::string_view nc, std::string_view digest_uri, std::string_view qop)
{
    const Md5Digest h1 =
        md5(std::string(username) + ":" + std::string(realm) + ":" + std::string(password));
    const std::string ha1 =
        md5_hex(std::string(reinterpret_cast<const char*>(h1.data()), h1.size()) + ":" +
                std::string(nonce) + ":" + std::string(cnonce));
    const std::string ha2 = md5_hex("AUTHENTICATE:" + std::string(digest_uri));
    return md5_hex(ha1 + ":" + std::string(nonce) + ":" + std::string(nc) + ":" +
                   std::string(cnonce) + ":" + std::string(qop) + ":" + ha2);
}

std::string response_text(std::string_view decoded_challenge, std::string_view username,
                          std::string_view password, std::string_view cnonce,
                          std::string_view stream_domain)
{
    const auto d = parse_challenge(decoded_challenge);
    const auto nonce = d.find("nonce");
    if (nonce == d.end())
        return {};
    const auto realm_it = d.find("realm");
    const std::string realm = realm_it != d.end() ? realm_it->second : std::string();
    const std::string digest_uri =
        "xmpp/" + (realm_it != d.end() ? realm : std::string(stream_domain));
    const std::string qop = "auth";
    const std::string value =
        response_value(username, password, realm, nonce->second, cnonce, kNc, digest_uri, qop);
    std::string text = "username=\"" + std::string(username) + "\",realm=\"" + realm +
                       "\",nonce=\"" + nonce->second + "\",cnonce=\"" + std::string(cnonce) +
                       "\",nc=" + std::string(kNc) + ",qop=" + qop + ",digest-uri=\"" + digest_uri +
                       "\"";
    if (const auto charset = d.find("charset"); charset != d.end())
        text += ",charset=" + charset->second;
    text += ",response=" + value;
    return text;
}

} // namespace vokar::sasl
