#pragma once

#include <map>
#include <string>
#include <string_view>

namespace vokar {

// SASL DIGEST-MD5 (qop "auth", no authorization identity) as the client
// speaks it.
namespace sasl {

constexpr std::string_view kAuth =
    "<auth mechanism=\"DIGEST-MD5\" xmlns=\"urn:ietf:params:xml:ns:xmpp-sasl\"/>";
constexpr std::string_view kEmptyResponse = "<response xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>";
constexpr std::string_view kNamespace = "urn:ietf:params:xml:ns:xmpp-sasl";
constexpr std::string_view kNc = "00000001";

// The directives of a decoded challenge, by name (any order; quoted or not;
// commas inside quotes kept). A directive that appears twice keeps its first value.
std::map<std::string, std::string, std::less<>> parse_challenge(std::string_view decoded);

// The 32-character lower-case response value.
std::string response_value(std::string_view username, std::string_view password,
                           std::string_view realm, std::string_view nonce, std::string_view cnonce,
                           std::string_view nc, std::string_view digest_uri, std::string_view qop);

// The response text to a decoded challenge, or "" when the challenge carries
// no nonce. Without a realm the realm is empty and the digest-uri is "xmpp/"
// plus `stream_domain`; a charset is echoed only when offered.
std::string response_text(std::string_view decoded_challenge, std::string_view username,
                          std::string_view password, std::string_view cnonce,
                          std::string_view stream_domain);

} // namespace sasl
} // namespace vokar
