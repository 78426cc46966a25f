#include "net/network_monitor.h"

#include "base/messages.h"
#include "base/strings.h"

namespace vokar {
namespace {

constexpr uint32_t kRatingIntervalMs = 120000;

} // namespace

NetworkMonitor::NetworkMonitor(const platform::OperatorConfig& config,
                               std::unique_ptr<platform::AdapterSource> adapters,
                               TransportProbe& probe, platform::Clock& clock)
    : forced_adapter_(config.adapter), adapters_(std::move(adapters)), probe_(probe), clock_(clock),
      connection_mutex_(platform::NamedMutex::unique_name("VOKAR_CONNECTION_MUTEX")),
      bearer_label_(LoadResourceString(StringId::BEARER_NONE))
{
}

NetworkMonitor::~NetworkMonitor()
{
    stop();
}

bool NetworkMonitor::is_wifi_name(const std::string& name)
{
    return name.rfind("TIACX", 0) == 0 || name.rfind("TNETWLN", 0) == 0 ||
           name.find("TNETW") != std::string::npos || name.find("WLN") != std::string::npos ||
           name.find("WIFI") != std::string::npos;
}

bool NetworkMonitor::is_activesync_name(const std::string& name)
{
    return name == "RNDISFN1" || name == "ected";
}

std::string NetworkMonitor::local_address() const
{
    std::lock_guard lock(text_mutex_);
    return local_address_;
}

std::string NetworkMonitor::adapter_name() const
{
    std::lock_guard lock(text_mutex_);
    return adapter_name_;
}

std::wstring NetworkMonitor::bearer_label() const
{
    std::lock_guard lock(text_mutex_);
    return bearer_label_;
}

void NetworkMonitor::add_window(platform::Window window)
{
    std::lock_guard lock(windows_mutex_);
    windows_.push_back(std::move(window));
}

void NetworkMonitor::send(uint32_t message)
{
    std::vector<platform::Window> windows;
    {
        std::lock_guard lock(windows_mutex_);
        windows = windows_;
    }
    for (const auto& w : windows)
        platform::send_message(w, message);
}

void NetworkMonitor::start()
{
    if (running_)
        return;
    stopping_ = false;
    probe_.allow_runs();
    running_ = true;
    rating_running_ = true;
    first_pass_ = true;
    adapter_thread_ = platform::Thread([this] { adapter_loop(); });
    rating_thread_ =
        platform::Thread([this] { rating_loop(); }, platform::Thread::Priority::BelowNormal);
}

void NetworkMonitor::stop()
{
    stopping_ = true;
    running_ = false;
    rating_running_ = false;
    // A probe or rating under way ends within a moment instead of its 30 s.
    probe_.cancel_runs();
    adapter_thread_.join();
    rating_thread_.join();
}

void NetworkMonitor::adapter_loop()
{
    std::lock_guard hold(connection_mutex_);
    while (running_) {
        run_pass();
        const uint32_t pause = connected_ ? 5000 : 1000;
        for (uint32_t waited = 0; running_ && waited < pause; waited += 100)
            clock_.sleep_ms(100);
    }
}

void NetworkMonitor::run_pass()
{
    {
        const std::string address = local_address();
        if ((address == "0.0.0.0" || is_activesync_name(adapter_name())) && !is_wifi_ &&
            !first_pass_)
            platform::request_data_connection();
    }
    std::string chosen_name, chosen_address;
    bool chosen_wifi = false;
    for (const auto& a : adapters_->adapters()) {
        // The configured adapter is the only candidate, whatever it is.
        if (!forced_adapter_.empty()) {
            if (a.name != forced_adapter_)
                continue;
        } else if (!a.has_hardware_address) {
            continue;
        }
        const bool wifi = is_wifi_name(a.name) || a.wireless;
        if (chosen_wifi)
            break; // WiFi is preferred: the first WiFi adapter ends the walk
        if (a.ipv4 != "0.0.0.0") {
            chosen_name = a.name;
            chosen_address = a.ipv4;
            chosen_wifi = wifi;
        }
    }
    if (chosen_address != local_address() && !is_activesync_name(chosen_name)) {
        connected_ = false;
        {
            std::lock_guard lock(text_mutex_);
            local_address_ = chosen_address;
            adapter_name_ = chosen_name;
        }
        is_wifi_ = chosen_wifi;
        probe_.reset();
        if (probe_observer_)
            probe_observer_->probing(true);
        probe_.run(30);
        if (probe_observer_)
            probe_observer_->probing(false);
        connected_ = !chosen_address.empty() && chosen_address != "0.0.0.0";
        if (!stopping_)
            announce_change();
    } else if (is_activesync_name(chosen_name) && local_address().empty() &&
               bearer_label() != LoadResourceString(StringId::BEARER_ACTIVESYNC)) {
        // A desktop-sync link alone never becomes the bearer, but the screens
        // show it, as not connected.
        connected_ = false;
        {
            std::lock_guard lock(text_mutex_);
            adapter_name_ = chosen_name;
            bearer_label_ = LoadResourceString(StringId::BEARER_ACTIVESYNC);
        }
        send(code(MessageCode::BearerLabelChanged));
    }
    first_pass_ = false;
}

void NetworkMonitor::wait_until_ui_ready()
{
    while (ui_ && !ui_->mainScreenReady() && !stopping_)
        clock_.sleep_ms(100);
}

void NetworkMonitor::announce_change()
{
    wait_until_ui_ready();
    if (connected_ && log_in_again_) {
        send(code(MessageCode::BearerAvailable));
        log_in_again_ = false;
    } else if (!connected_) {
        send(code(MessageCode::BearerLost));
        if (login_ && login_->sipLoggedInOrLoggingIn())
            log_in_again_ = true;
    } else if (login_ && login_->sipLoggedIn()) {
        send(code(MessageCode::BearerAvailable));
    }

    const std::string name = adapter_name();
    StringId label;
    if (is_wifi_) {
        label = StringId::BEARER_WIFI;
    } else if (is_activesync_name(name) || name == "N/A") {
        label = StringId::BEARER_ACTIVESYNC;
        connected_ = false;
    } else if (name.empty()) {
        label = StringId::BEARER_NONE;
    } else {
        label = StringId::BEARER_DATA_CONNECTION;
    }
    {
        std::lock_guard lock(text_mutex_);
        bearer_label_ = LoadResourceString(label);
    }
    send(code(MessageCode::BearerLabelChanged));

    wait_until_ui_ready();
    link_rating_ = probe_.rateLink();
    send(code(MessageCode::LinkRatingChanged));
}

void NetworkMonitor::rate_now()
{
    if (!connected_) {
        link_rating_ = -1;
        return;
    }
    wait_until_ui_ready();
    link_rating_ = probe_.rateLink();
    send(code(MessageCode::LinkRatingChanged));
}

void NetworkMonitor::rating_loop()
{
    while (rating_running_) {
        for (uint32_t waited = 0; rating_running_ && waited < kRatingIntervalMs; waited += 100)
            clock_.sleep_ms(100);
        if (!rating_running_)
            break;
        rate_now();
    }
}

} // namespace vokar
