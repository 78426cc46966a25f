#include "tests/support/stun_server.h"

#include <sys/socket.h>

#include <cstdlib>
#include <fstream>

#include "platform/operator_config.h"
#include "tests/support/free_ports.h"
#include "tests/support/scratch.h"

namespace vokar::test {
namespace {

constexpr std::string_view kReadyPrefix = "vokar-stun ready";

} // namespace

std::optional<ExternalStun> ExternalStun::parse(std::string_view text, std::string* error)
{
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
        *error = "VOKAR_TEST_STUN needs host:port";
        return std::nullopt;
    }
    const auto port = platform::parse_port(text.substr(colon + 1));
    if (!port) {
        *error =
            "VOKAR_TEST_STUN: '" + std::string(text.substr(colon + 1)) + "' is not a port number";
        return std::nullopt;
    }
    return ExternalStun{std::string(text.substr(0, colon)), *port};
}

StunServer::StunServer(StunServerOptions options)
    : options_(std::move(options)), fixed_ports_(options_.port != 0 && options_.alt_port != 0)
{
    const char* env = options_.use_environment ? std::getenv("VOKAR_TEST_STUN") : nullptr;
    if (env && *env) {
        external_ = true;
        if (auto server = ExternalStun::parse(env, &error_)) {
            options_.host = server->host;
            options_.port = server->port;
        } else {
            options_.port = 0;
        }
    }
}

StunServer::~StunServer()
{
    stop();
    remove_directory(directory_);
}

std::string StunServer::script_path()
{
    return program_path("VOKAR_STUN_SCRIPT", VOKAR_STUN_SCRIPT_PATH);
}

std::string StunServer::log() const
{
    return external_ ? std::string() : read_file(stderr_path_);
}

std::optional<int> StunServer::stop()
{
    if (external_)
        return std::nullopt;
    return server_.stop();
}

bool StunServer::running()
{
    return external_ ? options_.port != 0 : server_.running();
}

bool StunServer::start()
{
    if (external_)
        return options_.port != 0;
    stop();
    error_.clear();
    if (directory_.empty()) {
        directory_ = make_temp_directory("vokar-stun");
        if (directory_.empty()) {
            error_ = "cannot create a temporary directory";
            return false;
        }
        stderr_path_ = directory_ + "/vokar-stun.stderr";
    }
    bool port_clash = false;
    for (int attempt = 0; attempt < kServerStartAttempts; ++attempt) {
        if (start_once(&port_clash))
            return true;
        if (!port_clash || fixed_ports_)
            break;
    }
    return false;
}

bool StunServer::start_once(bool* port_clash)
{
    *port_clash = false;
    if (!fixed_ports_) {
        const auto ports = free_loopback_ports(2, SOCK_DGRAM);
        if (ports.empty()) {
            error_ = "no free loopback ports";
            return false;
        }
        options_.port = ports[0];
        options_.alt_port = ports[1];
    }
    const std::string conf_path = directory_ + "/operator.conf";
    std::ofstream out(conf_path, std::ios::binary | std::ios::trunc);
    out << "# generated for a test by StunServer\n"
        << "stun_host = " << options_.host << "\n"
        << "stun_port = " << options_.port << "\n"
        << "stun_alt_host = " << options_.alt_host << "\n"
        << "stun_alt_port = " << options_.alt_port << "\n";
    out.close();
    if (!out) {
        error_ = "cannot write " + conf_path;
        return false;
    }
    // stund reports a port it cannot bind as "Port N for receiving UDP is in use".
    return server_
        .start_server({.argv = {script_path(), "--config", conf_path},
                       .log_path = stderr_path_,
                       .ready_prefix = kReadyPrefix,
                       .port_taken = "is in use",
                       .ready_timeout = options_.ready_timeout},
                      &error_, port_clash)
        .has_value();
}

} // namespace vokar::test
