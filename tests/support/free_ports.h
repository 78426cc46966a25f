#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vokar::test {

// `count` distinct loopback ports that are free right now for `socket_type`
// (SOCK_STREAM or SOCK_DGRAM): each is bound to port 0, read back, and
// released once all are chosen. Another process may still take one before
// it is used; callers that start servers retry. Empty on failure.
std::vector<uint16_t> free_loopback_ports(size_t count, int socket_type);

} // namespace vokar::test
