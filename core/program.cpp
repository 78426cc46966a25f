#include "core/program.h"

#include "media/audio_engine.h"
#include "platform/text.h"
#include "sip/sip_stack.h"

namespace vokar {

Program::Program(Options options)
    : config_(std::move(options.config)), clock_(options.clock), probe_progress_(options.ui),
      pinger_(options.pinger ? std::move(options.pinger) : platform::make_system_pinger())
{
    reactor_ = std::make_unique<Reactor>(clock_);
    disposal_ = std::make_unique<DisposalQueue>(*reactor_);
    settings_ = std::make_unique<SettingsStore>(options.settings_path, config_);

    probe_ = std::make_unique<ProbeResult>(
        config_, [this] { return monitor_->local_address(); },
        settings_->server_list(SettingsStore::kSipList), *pinger_, clock_);
    monitor_ = std::make_unique<NetworkMonitor>(
        config_,
        options.adapters ? std::move(options.adapters) : platform::make_system_adapter_source(),
        *probe_, clock_);
    monitor_->set_probe_observer(&probe_progress_);
    bearer_ = std::make_unique<MonitorBearer>(*monitor_);

    const ConnectionFactory connections = make_connection_factory(
        probe_.get(), TunnelServer{config_.tunnel_host, config_.tunnel_port});

    audio_devices_ = options.make_audio_devices
                         ? options.make_audio_devices()
                         : platform::make_audio_devices(platform::default_audio_choice());
    media_addresses_ = std::make_unique<MediaAddressFinder>(MediaAddressFinder::Services{
        *probe_, *bearer_,
        [this] { return settings_->server_list(SettingsStore::kStunList).current(); },
        std::move(options.stun_query), connections,
        TunnelServer{config_.tunnel_host, config_.tunnel_port}, config_.relay_host,
        config_.sip_relay_host});

    AppController::Config app_config;
    app_config.calls.discovery = media_addresses_.get();
    app_config.calls.history = options.call_history;
    if (audio_devices_) {
        app_config.calls.make_audio = [this](int payload_type) {
            return std::make_unique<media::AudioEngine>(payload_type, *audio_devices_,
                                                        config_.relay_host, clock_);
        };
    }
    app_config.service_domain = config_.service_domain;
    app_config.web_host_name = platform::to_wide(config_.web_host_name);
    app_ = std::make_unique<AppController>(
        AppController::Services{*settings_, *bearer_, options.ui, clock_, *disposal_,
                                AppController::client_factory(*reactor_, config_), connections},
        std::move(app_config));

    SipPhone::StackFactory make_stack = options.make_stack;
    if (!make_stack) {
        make_stack = [this](const std::string& domain) -> std::unique_ptr<SipStackInterface> {
            return std::make_unique<SipStack>(domain, *reactor_, *disposal_);
        };
    }
    sip_ = std::make_unique<SipPhone>(SipPhone::Services{
        *settings_, *bearer_, options.ui, *app_, *disposal_, std::move(make_stack), connections,
        std::move(options.request_dialing_prefix), std::move(options.terminate)});
    monitor_->set_login_state(sip_.get());
}

Program::~Program()
{
    monitor_->stop();
    sip_->logout();
    sip_.reset();
    app_->logout();
    app_.reset();
    settings_.reset();
    monitor_.reset();
    probe_.reset();
    disposal_.reset();
    reactor_.reset();
}

void Program::start()
{
    monitor_->start();
}

} // namespace vokar
