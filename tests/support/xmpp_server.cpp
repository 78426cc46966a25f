#include "tests/support/xmpp_server.h"

#include "tests/support/scratch.h"

#include <sys/socket.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/external_server.h"
#include "tests/support/free_ports.h"
#include "tools/operator/process/subprocess.h"

namespace vokar::test {
namespace {

constexpr std::string_view kReadyPrefix = "vokar-xmpp ready";

std::string trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace

std::optional<ExternalXmpp> ExternalXmpp::parse(std::string_view text, std::string* error)
{
    return parse_external_server<ExternalXmpp>(text, "VOKAR_TEST_XMPP", error);
}

XmppServer::XmppServer(XmppServerOptions options) : options_(std::move(options)) {}

XmppServer::~XmppServer()
{
    stop();
    remove_directory(directory_);
}

std::string XmppServer::script_path()
{
    return program_path("VOKAR_XMPP_SCRIPT", VOKAR_XMPP_SCRIPT_PATH);
}

std::string XmppServer::accounts_tool_path()
{
    return program_path("VOKAR_ACCOUNTS", VOKAR_ACCOUNTS_PATH);
}

std::string XmppServer::log() const
{
    if (external_)
        return {};
    return read_file(instance_dir_ + "/prosody.log") + "--- stderr ---\n" + read_file(stderr_path_);
}

bool XmppServer::running()
{
    return !external_ && server_.running();
}

bool XmppServer::use_external(const std::string& description)
{
    auto server = ExternalXmpp::parse(description, &error_);
    if (!server)
        return false;
    external_ = true;
    config_.xmpp_host = server->host;
    config_.xmpp_port = server->port;
    config_.service_domain = server->domain;
    accounts_ = {server->first, server->second};
    // A configuration file all the same, for code that reads VOKAR_OPERATOR_CONF.
    std::ofstream out(conf_path_, std::ios::binary | std::ios::trunc);
    out << "# generated for a test by XmppServer: an external server\n"
        << "xmpp_host = " << server->host << "\n"
        << "xmpp_port = " << server->port << "\n"
        << "service_domain = " << server->domain << "\n";
    return true;
}

bool XmppServer::write_config(std::string* error)
{
    const auto ports = free_loopback_ports(1, SOCK_STREAM);
    if (ports.empty()) {
        *error = "no free loopback port";
        return false;
    }
    std::ostringstream text;
    text << "# generated for a test by XmppServer\n"
         << "xmpp_host = 127.0.0.1\n"
         << "xmpp_port = " << ports[0] << "\n";
    for (const auto& [key, value] : options_.extra_config)
        text << key << " = " << value << "\n";
    std::ofstream out(conf_path_, std::ios::binary | std::ios::trunc);
    out << text.str();
    out.close();
    if (!out) {
        *error = "cannot write " + conf_path_;
        return false;
    }
    return true;
}

bool XmppServer::prepare()
{
    if (directory_.empty())
        directory_ = make_temp_directory("vokar-xmpp");
    if (directory_.empty()) {
        error_ = "cannot create a temporary directory";
        return false;
    }
    conf_path_ = directory_ + "/operator.conf";
    stderr_path_ = directory_ + "/vokar-xmpp.stderr";
    instance_dir_ = directory_ + "/xmpp";

    const char* env = options_.use_environment ? std::getenv("VOKAR_TEST_XMPP") : nullptr;
    if (options_.external)
        return use_external(*options_.external);
    if (env && *env)
        return use_external(env);

    if (!options_.conf_path.empty())
        conf_path_ = options_.conf_path;
    else if (!write_config(&error_))
        return false;
    auto parsed = platform::OperatorConfig::load_file(conf_path_, &error_);
    if (!parsed)
        return false;
    config_ = std::move(*parsed);
    // A shared operator.conf places the instance where the operator's web
    // service keeps its accounts.
    if (const std::string dir = config_.get("xmpp_dir"); !dir.empty())
        instance_dir_ = dir;
    for (const auto& account : options_.accounts) {
        if (!create_account(account.user, account.password))
            return false;
    }
    accounts_ = options_.accounts;
    return true;
}

bool XmppServer::start_once(bool* port_clash)
{
    const auto line = server_.start_server(
        {.argv = {script_path(), "--config", conf_path_, "--dir", instance_dir_},
         .log_path = stderr_path_,
         .ready_prefix = kReadyPrefix,
         .port_taken = "cannot listen for clients",
         .ready_timeout = options_.ready_timeout},
        &error_, port_clash);
    if (line)
        ready_line_ = *line;
    return line.has_value();
}

bool XmppServer::start()
{
    stop();
    error_.clear();
    ready_line_.clear();
    const bool first = !prepared_;
    if (first) {
        prepared_ = prepare();
        if (!prepared_) {
            external_ = false;
            return false;
        }
    }
    if (external_)
        return true;
    // Only a port the fixture chose itself, and no client has been given
    // yet, may change.
    const bool may_move = first && options_.conf_path.empty();
    bool port_clash = false;
    for (int attempt = 0; attempt < kServerStartAttempts; ++attempt) {
        if (start_once(&port_clash))
            return true;
        if (!port_clash || !may_move)
            break;
        std::string error;
        auto parsed = write_config(&error) ? platform::OperatorConfig::load_file(conf_path_, &error)
                                           : std::nullopt;
        if (!parsed) {
            error_ = error;
            return false;
        }
        config_ = std::move(*parsed);
    }
    return false;
}

std::optional<int> XmppServer::stop()
{
    if (external_)
        return std::nullopt;
    return server_.stop();
}

bool XmppServer::run_accounts_tool(std::vector<std::string> args, const std::string& input)
{
    if (external_) {
        error_ = "accounts cannot be changed on an external server";
        return false;
    }
    operatord::ProgramRun run;
    run.argv = {accounts_tool_path(), "--config", conf_path_, "--dir", instance_dir_};
    run.argv.insert(run.argv.end(), args.begin(), args.end());
    run.input = input;
    const auto result = operatord::run_program(run);
    if (result.succeeded())
        return true;
    error_ = trimmed(result.err.empty() ? result.failure : result.err);
    return false;
}

bool XmppServer::create_account(const std::string& user, const std::string& password)
{
    return run_accounts_tool({"create", user, "-"}, password + "\n");
}

bool XmppServer::delete_account(const std::string& user)
{
    return run_accounts_tool({"delete", user}, {});
}

} // namespace vokar::test
