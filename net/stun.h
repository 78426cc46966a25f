#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vokar {

// The public address and port that a STUN server saw a request come from.
struct StunMapping {
    std::string address; // dotted IPv4 text
    uint16_t port = 0;
};

// The classic 20-byte Binding Request: type 0x0001, length 0, and the fixed
// transaction id 0x05 followed by fifteen bytes 0x07.
std::string stun_binding_request();

// Reads a Binding Response to stun_binding_request(). Accepted only with type
// 0x0101, a length field equal to the bytes after the header, the whole
// transaction id echoed, and a well-formed MAPPED-ADDRESS (IPv4) among the
// attributes, which may come in any order. Attributes are walked with bounds
// checks; a truncated one rejects the answer.
std::optional<StunMapping> parse_stun_answer(std::string_view answer);

// One Binding Request from local_address:local_port to host:port, waiting at
// most limit_ms for an accepted answer. Datagrams that are not one are
// ignored. Blocks the calling thread (a call's discovery thread); the socket
// is closed when it returns.
std::optional<StunMapping> stun_query(const std::string& local_address, uint16_t local_port,
                                      const std::string& host, uint16_t port, uint32_t limit_ms);

} // namespace vokar
