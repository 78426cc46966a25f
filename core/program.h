#pragma once

#include <functional>
#include <memory>
#include <string>

#include "account/call_log.h"
#include "account/device_contacts.h"
#include "account/settings_store.h"
#include "base/disposal_queue.h"
#include "base/reactor.h"
#include "core/address_discovery.h"
#include "core/app_controller.h"
#include "core/bearer.h"
#include "core/controller_ui.h"
#include "core/sip_phone.h"
#include "net/network_monitor.h"
#include "net/transport_probe.h"
#include "platform/audio_device.h"
#include "platform/clock.h"
#include "platform/network.h"
#include "platform/operator_config.h"

namespace vokar {

// The program's long-lived objects other than the user interface, wired
// once for every client that runs on it (windowed or headless): the
// reactor, the disposal queue, the settings store, the network monitor with
// its transport probe, the app controller with its friends model and the
// SIP phone. Every connection either phone opens takes the probe as its
// transport policy, so it goes through the tunnel where the probe says so.
//
// Created in start-up order; the constructors need what they use, so the
// settings store comes before the monitor and the phones, and the
// controller before the SIP phone that attaches to it. start() then starts
// the monitor's threads, last. Destroyed in shutdown order: the monitor's
// threads stop first (they ask the SIP phone and send to the screens), then
// the SIP phone and the controller log out and go, then the settings store
// writes a pending save, then the rest.
class Program {
public:
    struct Options {
        platform::OperatorConfig config;
        // The settings file ("__settings" in the data directory).
        std::string settings_path;
        // What the core shows; the client running on the Program provides it.
        ControllerUi& ui;
        // Null: the machine's adapters and the system pinger.
        std::unique_ptr<platform::AdapterSource> adapters;
        std::unique_ptr<platform::Pinger> pinger;
        // Makes the SIP stack; empty: the real stack on the program's reactor
        // and disposal queue. A factory that returns null leaves SIP off.
        SipPhone::StackFactory make_stack;
        std::function<void()> request_dialing_prefix;
        // Ends the program after the SIP unregistration.
        std::function<void()> terminate;
        platform::Clock& clock = platform::system_clock();
        // The client's call audio: opens its sound devices once; every call's
        // engine plays and records through them. Empty: the devices of
        // default_audio_choice().
        std::function<std::unique_ptr<platform::AudioDevices>()> make_audio_devices = {};
        // The STUN query calls make; empty: a Binding Request over UDP.
        MediaAddressFinder::StunQuery stun_query = {};
        // Where outgoing calls are logged (not owned); null: the program's
        // call log.
        CallHistory* call_history = nullptr;
    };

    explicit Program(Options options);
    // Shuts down (see the class comment). Like the phones it waits for their
    // clients and stacks to be freed, so run it off the GUI thread or after
    // the GUI pump has stopped.
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Starts the network monitor: bearer detection, probing, link rating.
    void start();
    // The network's coming and going, as the monitor's messages report it:
    // once the user has logged in, a network that came back logs in again;
    // one that went ends the sessions. False for any other message.
    bool on_bearer_message(MessageCode code, bool logged_in_once);

    const platform::OperatorConfig& config() const { return config_; }
    Reactor& reactor() { return *reactor_; }
    DisposalQueue& disposal() { return *disposal_; }
    SettingsStore& settings() { return *settings_; }
    ProbeResult& probe() { return *probe_; }
    NetworkMonitor& monitor() { return *monitor_; }
    AppController& app() { return *app_; }
    FriendsModel& friends() { return app_->friends(); }
    SipPhone& sip() { return *sip_; }
    // "CallLog.txt" and "contacts.vcf" beside the settings file. The screens
    // start the contacts' loading.
    CallLog& call_log() { return *call_log_; }
    DeviceContacts& contacts() { return *contacts_; }

private:
    // Logs the calls this client places.
    class LoggedCalls final : public CallHistory {
    public:
        explicit LoggedCalls(CallLog& log) : log_(log) {}
        void add_outgoing(const std::wstring& number, const std::wstring& name) override
        {
            log_.add(number, name, kCallOutgoing);
        }

    private:
        CallLog& log_;
    };

    // Forwards the monitor's probe to the login screen.
    class ProbeProgress final : public ProbeObserver {
    public:
        explicit ProbeProgress(ControllerUi& ui) : ui_(ui) {}
        void probing(bool running) override { ui_.show_network_check(running); }

    private:
        ControllerUi& ui_;
    };

    const platform::OperatorConfig config_;
    platform::Clock& clock_;
    ProbeProgress probe_progress_;
    std::unique_ptr<platform::Pinger> pinger_;
    std::unique_ptr<Reactor> reactor_;
    std::unique_ptr<CallLog> call_log_;
    std::unique_ptr<LoggedCalls> logged_calls_;
    std::unique_ptr<DeviceContacts> contacts_;
    std::unique_ptr<DisposalQueue> disposal_;
    std::unique_ptr<SettingsStore> settings_;
    std::unique_ptr<ProbeResult> probe_;
    std::unique_ptr<NetworkMonitor> monitor_;
    std::unique_ptr<MonitorBearer> bearer_;
    std::unique_ptr<platform::AudioDevices> audio_devices_;
    std::unique_ptr<MediaAddressFinder> media_addresses_;
    std::unique_ptr<AppController> app_;
    std::unique_ptr<SipPhone> sip_;
};

} // namespace vokar
