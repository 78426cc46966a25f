#include "tests/support/sip_server.h"

#include <cstdlib>
#include <fstream>

#include "tests/support/external_server.h"
#include "tests/support/scratch.h"
#include "tools/operator/process/subprocess.h"

namespace vokar::test {
namespace {

constexpr std::string_view kReadyPrefix = "vokar-sip ready";

} // namespace

std::optional<ExternalSip> ExternalSip::parse(std::string_view text, std::string* error)
{
    return parse_external_server<ExternalSip>(text, "VOKAR_TEST_SIP", error);
}

SipServer::SipServer(SipServerOptions options) : options_(std::move(options)) {}

SipServer::~SipServer()
{
    stop();
    daemon_.reset();
    remove_directory(directory_);
}

std::string SipServer::script_path()
{
    return program_path("VOKAR_SIP_SCRIPT", VOKAR_SIP_SCRIPT_PATH);
}

std::string SipServer::log() const
{
    return external_ ? std::string() : read_file(stderr_path_);
}

std::optional<int> SipServer::stop()
{
    if (external_)
        return std::nullopt;
    return server_.stop();
}

bool SipServer::start()
{
    error_.clear();
    const char* env = options_.use_environment ? std::getenv("VOKAR_TEST_SIP") : nullptr;
    if (env && *env) {
        external_ = ExternalSip::parse(env, &error_);
        if (!external_)
            return false;
        host_ = external_->host;
        port_ = external_->port;
        domain_ = external_->domain;
        accounts_ = {external_->first, external_->second};
        return true;
    }
    return start_own();
}

bool SipServer::start_own()
{
    stop();
    if (directory_.empty())
        directory_ = make_temp_directory("vokar-sip");
    if (directory_.empty()) {
        error_ = "cannot create a temporary directory";
        return false;
    }
    stderr_path_ = directory_ + "/vokar-sip.stderr";
    conf_path_ = options_.conf_path;
    if (conf_path_.empty()) {
        if (!daemon_) {
            OperatorStackOptions daemon;
            daemon.services = {"sip_front"};
            daemon.extra_config = options_.extra_config;
            daemon_ = std::make_unique<OperatorStack>(daemon);
        }
        if (!daemon_->running() && !daemon_->start()) {
            error_ = "vokar-operatord: " + daemon_->error();
            return false;
        }
        conf_path_ = daemon_->conf_path();
    }
    auto config = platform::OperatorConfig::load_file(conf_path_, &error_);
    if (!config)
        return false;
    host_ = config->sip_host;
    port_ = config->sip_port;
    domain_ = config->sip_domain;
    const std::string accounts_dir = config->get("xmpp_dir", directory_ + "/xmpp");
    accounts_ = options_.accounts;
    if (options_.create_accounts && !accounts_made_) {
        for (const auto& account : accounts_) {
            operatord::ProgramRun run;
            run.argv = {program_path("VOKAR_ACCOUNTS", VOKAR_ACCOUNTS_PATH),
                        "--config",
                        conf_path_,
                        "--dir",
                        accounts_dir,
                        "create",
                        account.user,
                        "-"};
            run.input = account.password + "\n";
            const auto result = operatord::run_program(run);
            if (!result.succeeded()) {
                error_ = "vokar-accounts: " + (result.err.empty() ? result.failure : result.err);
                return false;
            }
        }
        accounts_made_ = true;
    }
    bool port_clash = false;
    const auto line = server_.start_server(
        {.argv = {script_path(), "--config", conf_path_, "--dir", directory_ + "/sip"},
         .log_path = stderr_path_,
         .ready_prefix = kReadyPrefix,
         .port_taken = "Address already in use",
         .ready_timeout = options_.ready_timeout},
        &error_, &port_clash);
    return line.has_value();
}

} // namespace vokar::test
