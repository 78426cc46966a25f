#include "core/program.h"

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

    AppController::Config app_config;
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
    // With sip_scramble 0 the SIP connection sends plain datagrams.
    ConnectionFactory sip_connections = connections;
    if (!config_.sip_scramble) {
        sip_connections = [connections](const std::string& local_address, bool use_tcp, bool,
                                        SocketErrorCallback on_error) {
            return connections(local_address, use_tcp, false, std::move(on_error));
        };
    }
    sip_ = std::make_unique<SipPhone>(SipPhone::Services{
        *settings_, *bearer_, options.ui, *app_, *disposal_, std::move(make_stack), sip_connections,
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
