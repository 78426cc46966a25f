#pragma once

#include <string>
#include <string_view>

namespace vokar {

inline constexpr char kWwwAuthenticate[] = "WWW-Authenticate";
inline constexpr char kProxyAuthenticate[] = "Proxy-Authenticate";

// A server's challenge as parsed (realm, nonce, header_name) and, once filled
// for a request being built, the credentials answering it.
struct DigestChallenge {
    std::string realm;
    std::string nonce;
    std::string header_name; // kWwwAuthenticate or kProxyAuthenticate

    std::string username;
    std::string password;
    std::string uri; // always "sip:" + domain, whatever the request line says
    std::string method;
};

// The MD5 digest response (no qop, no client nonce) over the filled fields.
std::string digest_response(const DigestChallenge& credentials);

// The Authorization / Proxy-Authorization value, byte for byte:
// Digest username="..",realm="..",nonce="..",uri="..",response="..",algorithm=MD5,opaque=""
std::string credentials_value(const DigestChallenge& credentials);

// "Authorization" for a WWW-Authenticate challenge, "Proxy-Authorization"
// for a Proxy-Authenticate one, empty for any other name.
std::string_view authorization_header_name(std::string_view challenge_header);

} // namespace vokar
