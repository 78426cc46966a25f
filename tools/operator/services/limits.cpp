#include "tools/operator/services/limits.h"

namespace vokar::operatord {
bool config_number(const platform::OperatorConfig& config, std::string_view key, uint64_t max,
                   uint64_t* value, std::string* error)
{
    const auto it = config.extra.find(key);
    if (it == config.extra.end())
        return true;
    const std::string& text = it->second;
    uint64_t number = 0;
    bool ok = !text.empty() && text.size() <= 12;
    for (char c : text) {
        if (c < '0' || c > '9') {
            ok = false;
            break;
        }
        number = number * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!ok || number < 1 || number > max) {
        if (error)
            *error = std::string(key) + " '" + text + "' is not a number from 1 to " +
                     std::to_string(max);
        return false;
    }
    *value = number;
    return true;
}

std::optional<Limits> Limits::from_config(const platform::OperatorConfig& config,
                                          std::string* error)
{
    constexpr uint64_t kHour = 3600 * 1000;
    Limits limits;
    uint64_t connections = limits.max_connections;
    uint64_t per_source = limits.max_per_source;
    uint64_t request = static_cast<uint64_t>(limits.request_timeout.count());
    uint64_t idle = static_cast<uint64_t>(limits.idle_timeout.count());
    uint64_t budget_kib = limits.buffer_budget / 1024;
    if (!config_number(config, "max_connections", 100000, &connections, error) ||
        !config_number(config, "max_connections_per_source", 100000, &per_source, error) ||
        !config_number(config, "request_timeout_ms", kHour, &request, error) ||
        !config_number(config, "idle_timeout_ms", 24 * kHour, &idle, error) ||
        !config_number(config, "buffer_budget_kib", 16 * 1024 * 1024, &budget_kib, error))
        return std::nullopt;
    limits.max_connections = connections;
    limits.max_per_source = per_source;
    limits.request_timeout = std::chrono::milliseconds(request);
    limits.idle_timeout = std::chrono::milliseconds(idle);
    limits.buffer_budget = budget_kib * 1024;
    return limits;
}

} // namespace vokar::operatord
