#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "platform/operator_config.h"

namespace vokar::operatord {

// The limits every service of the daemon applies to its clients, from
// operator.conf (keys in the README).
struct Limits {
    // Connections one service takes at once, and from one source address.
    size_t max_connections = 1024;
    size_t max_per_source = 64;
    // How long a new client may take to send its request (the tunnel's
    // CONNECT, the web's request head, the echo's first bytes).
    std::chrono::milliseconds request_timeout{10000};
    // How long a connection may pass without a read or a write afterwards.
    std::chrono::milliseconds idle_timeout{300000};
    // Bytes the daemon buffers for all connections together; past it, no
    // connection is read until the buffers drain.
    size_t buffer_budget = 64 * 1024 * 1024;

    // nullopt with *error for a value that is not a positive number in range.
    static std::optional<Limits> from_config(const platform::OperatorConfig& config,
                                             std::string* error);
};

// The value of `key`, a decimal number from 1 to `max`, into *value (left as
// it is when the key is absent). False with *error for another value.
bool config_number(const platform::OperatorConfig& config, std::string_view key, uint64_t max,
                   uint64_t* value, std::string* error);

} // namespace vokar::operatord
