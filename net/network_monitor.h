#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/transport_probe.h"
#include "platform/clock.h"
#include "platform/network.h"
#include "platform/operator_config.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "platform/window.h"

namespace vokar {

// Questions the monitor asks of the application above it.
class LoginState {
public:
    virtual ~LoginState() = default;
    virtual bool sipLoggedIn() const = 0;
    virtual bool sipLoggedInOrLoggingIn() const = 0;
};

// Told when the transport probe starts and ends: it takes up to 30 s where
// the direct paths are silently dropped, and the login screen says so.
class ProbeObserver {
public:
    virtual ~ProbeObserver() = default;
    virtual void probing(bool running) = 0;
};

class UiReadiness {
public:
    virtual ~UiReadiness() = default;
    virtual bool mainScreenReady() const = 0;
};

// Watches the network adapters, decides which bearer the client uses (WiFi,
// a data connection; a desktop-sync link does not count), publishes the local
// address that sockets bind to, probes the transports whenever the bearer
// changes, rates the link every two minutes, and tells the screens
// (BearerAvailable, BearerLost, BearerLabelChanged, LinkRatingChanged).
class NetworkMonitor {
public:
    NetworkMonitor(const platform::OperatorConfig& config,
                   std::unique_ptr<platform::AdapterSource> adapters, TransportProbe& probe,
                   platform::Clock& clock = platform::system_clock());
    // Stops and joins the two threads (the program never destroys it; tests do).
    ~NetworkMonitor();
    NetworkMonitor(const NetworkMonitor&) = delete;
    NetworkMonitor& operator=(const NetworkMonitor&) = delete;

    void set_login_state(const LoginState* login) { login_ = login; }
    void set_ui(const UiReadiness* ui) { ui_ = ui; }
    void set_probe_observer(ProbeObserver* observer) { probe_observer_ = observer; }
    // Windows that receive the monitor's messages.
    void add_window(platform::Window window);

    // Starts the adapter loop and the link-rating thread.
    void start();
    // Stops both threads; a probe or link rating under way is cut short, so
    // this returns within a moment.
    void stop();

    // One pass of the adapter loop (what the adapter thread does every 1-5 s).
    void run_pass();
    // Runs the rating once, as the rating thread does every two minutes.
    void rate_now();

    bool connected() const { return connected_; }
    std::string local_address() const;
    std::string adapter_name() const;
    std::wstring bearer_label() const;
    int link_rating() const { return link_rating_; }
    bool is_wifi() const { return is_wifi_; }
    TransportProbe& probe() { return probe_; }

    static bool is_wifi_name(const std::string& name);
    static bool is_activesync_name(const std::string& name);

private:
    void adapter_loop();
    void rating_loop();
    void announce_change();
    void wait_until_ui_ready();
    void send(uint32_t code);

    const std::string forced_adapter_;
    std::unique_ptr<platform::AdapterSource> adapters_;
    TransportProbe& probe_;
    platform::Clock& clock_;
    const LoginState* login_ = nullptr;
    const UiReadiness* ui_ = nullptr;
    ProbeObserver* probe_observer_ = nullptr;
    platform::NamedMutex connection_mutex_;

    std::atomic<bool> running_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> rating_running_{false};
    std::atomic<bool> first_pass_{true};
    std::atomic<bool> connected_{false};
    std::atomic<bool> is_wifi_{false};
    std::atomic<bool> log_in_again_{false};
    std::atomic<int> link_rating_{-2};

    mutable std::mutex text_mutex_; // local address, adapter name, label
    std::string local_address_;
    std::string adapter_name_;
    std::wstring bearer_label_;

    std::mutex windows_mutex_;
    std::vector<platform::Window> windows_;

    platform::Thread adapter_thread_;
    platform::Thread rating_thread_;
};

} // namespace vokar
