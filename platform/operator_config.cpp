#include "platform/operator_config.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vokar::platform {
namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view trim(std::string_view s)
{
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

// Sets a known key; returns false with a reason when the value is invalid,
// nullopt when the key is not one of the client's.
std::optional<bool> assign(OperatorConfig& c, std::string_view key, std::string_view value,
                           std::string& reason)
{
#define VOKAR_TEXT_ASSIGN(name, def)                                                               \
    if (key == #name) {                                                                            \
        c.name = std::string(value);                                                               \
        return true;                                                                               \
    }
#define VOKAR_PORT_ASSIGN(name, def)                                                               \
    if (key == #name) {                                                                            \
        auto port = parse_port(value);                                                             \
        if (!port) {                                                                               \
            reason = "'" #name "' must be a port number from 1 to 65535, not '" +                  \
                     std::string(value) + "'";                                                     \
            return false;                                                                          \
        }                                                                                          \
        c.name = *port;                                                                            \
        return true;                                                                               \
    }
    VOKAR_OPERATOR_KEYS(VOKAR_TEXT_ASSIGN, VOKAR_PORT_ASSIGN)
#undef VOKAR_TEXT_ASSIGN
#undef VOKAR_PORT_ASSIGN
    if (key == "sip_scramble") {
        if (value != "0" && value != "1") {
            reason = "'sip_scramble' must be 0 or 1, not '" + std::string(value) + "'";
            return false;
        }
        c.sip_scramble = value == "1";
        return true;
    }
    return std::nullopt;
}

} // namespace

std::optional<uint16_t> parse_port(std::string_view text)
{
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    uint32_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + static_cast<uint32_t>(c - '0');
    }
    if (n == 0 || n > 65535)
        return std::nullopt;
    return static_cast<uint16_t>(n);
}

std::string OperatorConfig::get(std::string_view key, std::string_view fallback) const
{
#define VOKAR_TEXT_GET(name, def)                                                                  \
    if (key == #name)                                                                              \
        return name;
#define VOKAR_PORT_GET(name, def)                                                                  \
    if (key == #name)                                                                              \
        return std::to_string(name);
    VOKAR_OPERATOR_KEYS(VOKAR_TEXT_GET, VOKAR_PORT_GET)
#undef VOKAR_TEXT_GET
#undef VOKAR_PORT_GET
    if (key == "sip_scramble")
        return sip_scramble ? "1" : "0";
    auto it = extra.find(key);
    return it != extra.end() ? it->second : std::string(fallback);
}

std::optional<OperatorConfig> OperatorConfig::parse(std::string_view text, std::string_view origin,
                                                    std::string* error)
{
    OperatorConfig config;
    size_t line_no = 0;
    while (!text.empty()) {
        ++line_no;
        const auto nl = text.find('\n');
        const std::string_view line = trim(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (line.empty() || line.front() == '#')
            continue;
        std::string reason;
        const auto eq = line.find('=');
        const std::string_view key = eq == std::string_view::npos ? line : trim(line.substr(0, eq));
        if (eq == std::string_view::npos)
            reason = "expected 'key = value'";
        else if (key.empty())
            reason = "missing key before '='";
        if (reason.empty()) {
            const std::string_view value = trim(line.substr(eq + 1));
            const auto known = assign(config, key, value, reason);
            if (!known)
                config.extra[std::string(key)] = std::string(value);
        }
        if (!reason.empty()) {
            if (error)
                *error = std::string(origin) + ":" + std::to_string(line_no) + ": " + reason;
            return std::nullopt;
        }
    }
    return config;
}

std::optional<OperatorConfig> OperatorConfig::load_file(const std::string& path, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error)
            *error = "cannot read operator configuration " + path;
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parse(text.str(), path, error);
}

std::optional<OperatorConfig> OperatorConfig::from_environment(std::string* error)
{
    const char* path = std::getenv("VOKAR_OPERATOR_CONF");
    if (!path || !*path)
        return OperatorConfig{};
    return load_file(path, error);
}

} // namespace vokar::platform
