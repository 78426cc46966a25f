#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vokar::operatord {

// A dotted-quad IPv4 address, without any name lookup.
std::optional<in_addr> parse_ipv4(std::string_view host);
// A host name as the resolver accepts it: letters, digits, '-', '_' and '.',
// at most 253 characters. Anything else is never sent to a name server.
bool plausible_host_name(std::string_view host);
// Numeric address or name lookup (blocking); for start-up only.
std::optional<in_addr> resolve_ipv4_blocking(const std::string& host);

sockaddr_in make_address(in_addr ip, uint16_t port);
// The address a service binds: `host` (from the configuration key `key`)
// resolved at start-up; nullopt with *error when it does not resolve.
std::optional<sockaddr_in> configured_address(std::string_view key, const std::string& host,
                                              uint16_t port, std::string* error);
std::string format_address(const sockaddr_in& address); // "a.b.c.d:port"
// The address a socket is bound to.
std::optional<sockaddr_in> local_address(int fd);
// The IPv4 address (network order) of a connected socket's peer; 0 when
// unknown.
uint32_t peer_ip(int fd);

// A non-blocking socket of `type` (SOCK_STREAM listening, or SOCK_DGRAM)
// bound to `address`; -1 with *error naming the address on failure.
int open_bound_socket(int type, const sockaddr_in& address, std::string* error);

void set_no_delay(int fd);

} // namespace vokar::operatord
