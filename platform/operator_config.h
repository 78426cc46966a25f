#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vokar::platform {

// Every key the client reads from operator.conf, with its compiled-in default.
// TEXT(name, default) is a string value, PORT(name, default) a port 1..65535.
#define VOKAR_OPERATOR_KEYS(TEXT, PORT)                                                            \
    TEXT(service_domain, "vokar.test")                                                             \
    TEXT(sip_domain, "sip.vokar.test")                                                             \
    TEXT(sip_host, "127.0.0.1")                                                                    \
    PORT(sip_port, 5060)                                                                           \
    TEXT(xmpp_host, "127.0.0.1")                                                                   \
    PORT(xmpp_port, 5222)                                                                          \
    TEXT(web_host, "127.0.0.1")                                                                    \
    PORT(web_port, 80)                                                                             \
    TEXT(web_host_name, "www.vokar.test")                                                          \
    TEXT(sister_web_host_name, "www.quillvoce.test")                                               \
    TEXT(stun_host, "127.0.0.1")                                                                   \
    PORT(stun_port, 3478)                                                                          \
    TEXT(server_ip, "127.0.0.1")                                                                   \
    PORT(server_port, 443)                                                                         \
    TEXT(tunnel_host, "127.0.0.1")                                                                 \
    PORT(tunnel_port, 80)                                                                          \
    TEXT(echo_host, "127.0.0.1")                                                                   \
    PORT(echo_udp_port, 10469)                                                                     \
    PORT(echo_tcp_port, 5002)                                                                      \
    TEXT(relay_host, "127.0.0.1")                                                                  \
    PORT(relay_port, 10000)                                                                        \
    TEXT(sip_relay_host, "127.0.0.1")                                                              \
    PORT(sip_relay_port, 5060)                                                                     \
    TEXT(gtalk_mail_domain, "gmail.com")                                                           \
    TEXT(holler_sender_number, "15555550100")                                                      \
    TEXT(signup_salt, "719kqd")                                                                    \
    TEXT(adapter, "")

// The operator's endpoints and names: the compiled-in defaults, overridden by
// `key = value` lines of an operator.conf file ('#' starts a comment line).
// Keys the client does not know (the operator daemon's own) are kept in
// `extra` so both sides read one file.
struct OperatorConfig {
#define VOKAR_TEXT_FIELD(name, def) std::string name = def;
#define VOKAR_PORT_FIELD(name, def) uint16_t name = def;
    VOKAR_OPERATOR_KEYS(VOKAR_TEXT_FIELD, VOKAR_PORT_FIELD)
#undef VOKAR_TEXT_FIELD
#undef VOKAR_PORT_FIELD

    // `sip_scramble`: 1 (default) scrambles SIP datagrams for the
    // operator's front; 0 sends plain SIP, for any standard registrar.
    bool sip_scramble = true;

    std::map<std::string, std::string, std::less<>> extra;

    // The value of any key, known or extra, as text; `fallback` when unknown.
    std::string get(std::string_view key, std::string_view fallback = {}) const;

    // Parses file text over the defaults. On a malformed line returns nullopt
    // and sets *error to "<origin>:<line>: <reason>".
    static std::optional<OperatorConfig> parse(std::string_view text,
                                               std::string_view origin = "operator.conf",
                                               std::string* error = nullptr);
    static std::optional<OperatorConfig> load_file(const std::string& path,
                                                   std::string* error = nullptr);
    // The file named by VOKAR_OPERATOR_CONF, or the defaults when it is unset.
    static std::optional<OperatorConfig> from_environment(std::string* error = nullptr);
};

// A port number from 1 to 65535 in plain decimal digits (no sign, no blanks,
// at most five digits); nullopt otherwise.
std::optional<uint16_t> parse_port(std::string_view text);

} // namespace vokar::platform
