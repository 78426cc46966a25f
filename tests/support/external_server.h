#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/operator_config.h"

namespace vokar::test {

// Reads an outside server's description, host:port:domain:user1:pass1:user2:pass2,
// into `Server` (host, port, domain, and accounts `first` and `second`). The
// last password may hold ':', the other fields not. `variable` names the
// environment variable the text came from, for the error message.
template <typename Server>
std::optional<Server> parse_external_server(std::string_view text, std::string_view variable,
                                            std::string* error)
{
    std::vector<std::string> fields;
    while (fields.size() < 6) {
        const auto colon = text.find(':');
        if (colon == std::string_view::npos)
            break;
        fields.emplace_back(text.substr(0, colon));
        text.remove_prefix(colon + 1);
    }
    fields.emplace_back(text);
    const std::string name(variable);
    if (fields.size() != 7) {
        *error = name + " needs host:port:domain:user1:pass1:user2:pass2";
        return std::nullopt;
    }
    for (const auto& field : fields) {
        if (field.empty()) {
            *error = name + " has an empty field";
            return std::nullopt;
        }
    }
    const auto port = platform::parse_port(fields[1]);
    if (!port) {
        *error = name + ": '" + fields[1] + "' is not a port number";
        return std::nullopt;
    }
    Server server;
    server.host = fields[0];
    server.port = *port;
    server.domain = fields[2];
    server.first = {fields[3], fields[4]};
    server.second = {fields[5], fields[6]};
    return server;
}

} // namespace vokar::test
