#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vokar {

// The web service's server-list answer (the body after its status
// character): sections opened by marker lines ("-SIP", "-JABBER", "-PHP",
// "-STUN", "-DOMAIN", "-PINGSERVER", "-ENDLIST"), each followed by its lines.
struct ServerListAnswer {
    // Collected "host:port" lines for lists 0 (SIP), 1 (XMPP), 2 (web), 3 (STUN).
    std::array<std::vector<std::string>, 4> lists;
    // The last line of a "-DOMAIN" section, when there was one.
    std::optional<std::string> domain;
    // Lines of the "-PINGSERVER" section (read, not used).
    std::vector<std::string> ping_servers;

    static ServerListAnswer parse(std::string_view body);

    // The count-prefixed text that reloads list `position`: the number of
    // lines, then a line feed before each line ("0" for a list that had no
    // section).
    std::string count_prefixed(size_t position) const;
};

} // namespace vokar
