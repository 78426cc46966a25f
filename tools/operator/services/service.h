#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/operator_config.h"
#include "tools/operator/loop/buffer_budget.h"
#include "tools/operator/loop/event_loop.h"
#include "tools/operator/services/limits.h"

namespace vokar::operatord {

// The items of a configuration list: words separated by blanks, tabs or
// commas, empty items skipped.
std::vector<std::string_view> config_list_items(std::string_view list);

// What a service gets from the daemon.
struct ServiceContext {
    EventLoop& loop;
    const platform::OperatorConfig& config;
    const Limits& limits;
    BufferBudget& budget;
};

// One network service of the daemon, run on the shared loop.
class Service {
public:
    virtual ~Service() = default;
    // Binds and starts listening; on failure false with *error naming the
    // address and the reason.
    virtual bool start(std::string* error) = 0;
    // The bound address as "HOST:PORT", for the readiness line.
    virtual std::string endpoint() const = 0;
};

struct ServiceEntry {
    std::string_view name;
    std::unique_ptr<Service> (*create)(const ServiceContext& context);
    // Run when `operatord_services` is absent; a service that needs
    // configuration of its own runs only when named.
    bool by_default = true;
};

// Every service the daemon knows, in the order of the readiness line.
std::span<const ServiceEntry> service_registry();

inline constexpr std::string_view kServicesKey = "operatord_services";

// The services named by an `operatord_services` value (names separated by
// blanks or commas; duplicates allowed), in registry order. nullopt with
// *error for an unknown name or an empty list.
std::optional<std::vector<const ServiceEntry*>> select_services(std::string_view list,
                                                                std::string* error);
// The value when the key is absent: every service that runs by default.
std::string default_service_list();

} // namespace vokar::operatord
