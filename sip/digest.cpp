#include "sip/digest.h"

#include "base/md5.h"

namespace vokar {

std::string digest_response(const DigestChallenge& c)
{
    const std::string ha1 = md5_hex(c.username + ":" + c.realm + ":" + c.password);
    const std::string ha2 = md5_hex(c.method + ":" + c.uri);
    return md5_hex(ha1 + ":" + c.nonce + ":" + ha2);
}

std::string credentials_value(const DigestChallenge& c)
{
    std::string out;
    out.reserve(160 + c.username.size() + c.realm.size() + c.nonce.size() + c.uri.size());
    out += "Digest username=\"";
    out += c.username;
    out += "\",realm=\"";
    out += c.realm;
    out += "\",nonce=\"";
    out += c.nonce;
    out += "\",uri=\"";
    out += c.uri;
    out += "\",response=\"";
    out += digest_response(c);
    out += "\",algorithm=MD5,opaque=\"\"";
    return out;
}

std::string_view authorization_header_name(std::string_view challenge_header)
{
    if (challenge_header == kWwwAuthenticate)
        return "Authorization";
    if (challenge_header == kProxyAuthenticate)
        return "Proxy-Authorization";
    return {};
}

} // namespace vokar
