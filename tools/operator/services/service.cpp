#include "tools/operator/services/service.h"

#include <algorithm>
#include <array>

#include "tools/operator/services/echo_service.h"
#include "tools/operator/services/relay_service.h"
#include "tools/operator/services/sip_front.h"
#include "tools/operator/services/tunnel_service.h"
#include "tools/operator/services/web_service.h"

namespace vokar::operatord {

std::span<const ServiceEntry> service_registry()
{
    static const std::array<ServiceEntry, 6> entries = {{
        {"echo_udp", &make_echo_udp_service},
        {"echo_tcp", &make_echo_tcp_service},
        {"tunnel", &make_tunnel_service},
        // Needs xmpp_dir, and its default port is the tunnel's.
        {"web", &make_web_service, false},
        // Media relay; runs only when named.
        {"relay", &make_relay_service, false},
        // Needs the SIP server (tools/operator/sip/vokar-sip) behind it.
        {"sip_front", &make_sip_front_service, false},
    }};
    return entries;
}

namespace {

std::string service_names(bool defaults_only)
{
    std::string list;
    for (const auto& entry : service_registry()) {
        if (defaults_only && !entry.by_default)
            continue;
        if (!list.empty())
            list += ' ';
        list += entry.name;
    }
    return list;
}

} // namespace

std::string default_service_list()
{
    return service_names(true);
}

std::vector<std::string_view> config_list_items(std::string_view list)
{
    constexpr std::string_view kSeparators = " \t,";
    std::vector<std::string_view> items;
    while (!list.empty()) {
        const auto start = list.find_first_not_of(kSeparators);
        if (start == std::string_view::npos)
            break;
        list.remove_prefix(start);
        const auto end = std::min(list.find_first_of(kSeparators), list.size());
        items.push_back(list.substr(0, end));
        list.remove_prefix(end);
    }
    return items;
}

std::optional<std::vector<const ServiceEntry*>> select_services(std::string_view list,
                                                                std::string* error)
{
    const auto registry = service_registry();
    std::vector<bool> wanted(registry.size(), false);
    for (const std::string_view name : config_list_items(list)) {
        const auto it = std::find_if(registry.begin(), registry.end(),
                                     [&](const ServiceEntry& e) { return e.name == name; });
        if (it == registry.end()) {
            if (error)
                *error = std::string(kServicesKey) + ": unknown service '" + std::string(name) +
                         "' (known: " + service_names(false) + ")";
            return std::nullopt;
        }
        wanted[static_cast<size_t>(it - registry.begin())] = true;
    }
    std::vector<const ServiceEntry*> selected;
    for (size_t i = 0; i < registry.size(); ++i) {
        if (wanted[i])
            selected.push_back(&registry[i]);
    }
    if (selected.empty()) {
        if (error)
            *error = std::string(kServicesKey) + " names no service";
        return std::nullopt;
    }
    return selected;
}

} // namespace vokar::operatord
