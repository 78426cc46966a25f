#include "core/program.h"

#include "media/audio_engine.h"
#include "net/stun.h"
#include "platform/address_book.h"
#include "platform/text.h"
#include "sip/sip_stack.h"

namespace vokar {

namespace {

// The folder part of a file's path, with its trailing slash ("" for none).
std::string folder_of(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::optional<ServerEndpoint> query_stun(const std::string& local_address, uint16_t local_port,
                                         const ServerEndpoint& server, uint32_t limit_ms)
{
    if (server.port <= 0 || server.port > 65535)
        return std::nullopt;
    const auto mapping = stun_query(local_address, local_port, server.host,
                                    static_cast<uint16_t>(server.port), limit_ms);
    if (!mapping)
        return std::nullopt;
    return ServerEndpoint{mapping->address, mapping->port};
}

} // namespace

Program::Program(Options options)
    : config_(std::move(options.config)), clock_(options.clock), probe_progress_(options.ui),
      pinger_(options.pinger ? std::move(options.pinger) : platform::make_system_pinger())
{
    reactor_ = std::make_unique<Reactor>(clock_);
    const std::string directory = folder_of(options.settings_path);
    call_log_ = std::make_unique<CallLog>(directory + "CallLog.txt");
    logged_calls_ = std::make_unique<LoggedCalls>(*call_log_);
    contacts_ = std::make_unique<DeviceContacts>(
        platform::make_vcard_address_book(directory + "contacts.vcf"),
        platform::to_wide(config_.holler_sender_number));
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
        options.stun_query ? std::move(options.stun_query) : query_stun, connections,
        TunnelServer{config_.tunnel_host, config_.tunnel_port}, config_.relay_host,
        config_.sip_relay_host, config_.relay_port, config_.sip_relay_port});

    AppController::Config app_config;
    app_config.calls.discovery = media_addresses_.get();
    app_config.calls.history = options.call_history ? options.call_history : logged_calls_.get();
    if (audio_devices_) {
        app_config.calls.make_audio = [this](int payload_type) {
            return std::make_unique<media::AudioEngine>(
                payload_type, *audio_devices_,
                media::MediaEndpoint{config_.relay_host, config_.relay_port}, clock_);
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
    contacts_.reset();
    logged_calls_.reset();
    call_log_.reset();
    settings_.reset();
    monitor_.reset();
    probe_.reset();
    disposal_.reset();
    reactor_.reset();
}

bool Program::on_bearer_message(MessageCode code, bool logged_in_once)
{
    if (code == MessageCode::BearerAvailable) {
        if (logged_in_once)
            app_->bearerAvailable();
        return true;
    }
    if (code == MessageCode::BearerLost) {
        app_->bearerLost();
        return true;
    }
    return false;
}

void Program::start()
{
    monitor_->start();
}

} // namespace vokar
