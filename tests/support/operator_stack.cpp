#include "tests/support/operator_stack.h"

#include <sys/socket.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/free_ports.h"
#include "tests/support/scratch.h"

namespace vokar::test {
namespace {

constexpr std::string_view kReadyPrefix = "vokar-operatord ready";

} // namespace

OperatorStack::OperatorStack(OperatorStackOptions options) : options_(std::move(options)) {}

OperatorStack::~OperatorStack()
{
    stop();
    remove_directory(directory_);
}

std::string OperatorStack::daemon_path()
{
    return program_path("VOKAR_OPERATORD", VOKAR_OPERATORD_PATH);
}

std::string OperatorStack::log() const
{
    return read_file(log_path_);
}

std::string OperatorStack::endpoint(std::string_view service) const
{
    const auto it = endpoints_.find(service);
    return it == endpoints_.end() ? std::string() : it->second;
}

bool OperatorStack::write_config(std::string* error)
{
    const auto tcp = free_loopback_ports(4, SOCK_STREAM);
    const auto udp = free_loopback_ports(4, SOCK_DGRAM);
    if (tcp.empty() || udp.empty()) {
        *error = "no free loopback ports";
        return false;
    }
    std::string services;
    for (const auto& name : options_.services)
        services += (services.empty() ? "" : " ") + name;

    // The echo, tunnel and relay have an address of their own, so that a
    // packet through them cannot pass for one sent directly on loopback, and
    // the relay's port stays clear of the probes'.
    std::ostringstream text;
    text << "# generated for a test by OperatorStack\n"
         << "echo_host = 127.0.0.3\n"
         << "echo_udp_port = " << udp[0] << "\n"
         << "echo_tcp_port = " << tcp[0] << "\n"
         << "tunnel_host = 127.0.0.3\n"
         << "tunnel_port = " << tcp[1] << "\n"
         << "relay_host = 127.0.0.3\n"
         << "relay_port = " << udp[1] << "\n"
         << "xmpp_host = 127.0.0.1\n"
         << "xmpp_port = " << tcp[2] << "\n"
         << "web_host = 127.0.0.1\n"
         << "web_port = " << tcp[3] << "\n"
         << "xmpp_dir = " << directory_ << "/xmpp\n"
         << "sip_host = 127.0.0.1\n"
         << "sip_port = " << udp[2] << "\n"
         << "sip_server_host = 127.0.0.1\n"
         << "sip_server_port = " << udp[3] << "\n"
         << "sip_fr_inv_timer_ms = 5000\n"
         << "operatord_services = " << services << "\n";
    for (const auto& [key, value] : options_.extra_config)
        text << key << " = " << value << "\n";

    auto parsed = platform::OperatorConfig::parse(text.str(), conf_path_, error);
    if (!parsed)
        return false;
    std::ofstream out(conf_path_, std::ios::binary | std::ios::trunc);
    out << text.str();
    out.close();
    if (!out) {
        *error = "cannot write " + conf_path_;
        return false;
    }
    config_ = std::move(*parsed);
    return true;
}

bool OperatorStack::start_once(bool* port_clash)
{
    *port_clash = false;
    if (!write_config(&error_))
        return false;
    return run_daemon(port_clash);
}

bool OperatorStack::restart()
{
    stop();
    error_.clear();
    bool port_clash = false;
    return !conf_path_.empty() && run_daemon(&port_clash);
}

bool OperatorStack::run_daemon(bool* port_clash)
{
    ready_line_.clear();
    endpoints_.clear();
    const auto line = daemon_.start_server({.argv = {daemon_path(), "--config", conf_path_},
                                            .log_path = log_path_,
                                            .ready_prefix = kReadyPrefix,
                                            .port_taken = "Address already in use",
                                            .ready_timeout = options_.ready_timeout},
                                           &error_, port_clash);
    if (!line)
        return false;
    ready_line_ = *line;
    std::istringstream words(line->substr(kReadyPrefix.size()));
    std::string word;
    while (words >> word) {
        const auto eq = word.find('=');
        if (eq != std::string::npos)
            endpoints_[word.substr(0, eq)] = word.substr(eq + 1);
    }
    return true;
}

bool OperatorStack::start()
{
    stop();
    error_.clear();
    ready_line_.clear();
    endpoints_.clear();
    if (directory_.empty()) {
        directory_ = make_temp_directory("vokar-operator");
        if (directory_.empty()) {
            error_ = "cannot create a temporary directory";
            return false;
        }
        conf_path_ = directory_ + "/operator.conf";
        log_path_ = directory_ + "/vokar-operatord.log";
    }
    bool port_clash = false;
    for (int attempt = 0; attempt < kServerStartAttempts; ++attempt) {
        if (start_once(&port_clash))
            return true;
        if (!port_clash)
            break;
    }
    return false;
}

std::optional<int> OperatorStack::stop()
{
    return daemon_.stop();
}

} // namespace vokar::test
