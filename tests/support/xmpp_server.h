#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/operator_config.h"
#include "tests/support/child_process.h"

namespace vokar::test {

struct XmppAccount {
    std::string user; // the local part; the JID is user@domain
    std::string password;
};

// Another XMPP server to test against, with two accounts on it:
// VOKAR_TEST_XMPP=host:port:domain:user1:pass1:user2:pass2 (the last
// password may hold ':', the others not).
struct ExternalXmpp {
    std::string host;
    uint16_t port = 0;
    std::string domain;
    XmppAccount first;
    XmppAccount second;

    static std::optional<ExternalXmpp> parse(std::string_view text, std::string* error);
};

struct XmppServerOptions {
    // An operator.conf to use as it is (for instance an OperatorStack's
    // conf_path(), which names a free xmpp_port, and in xmpp_dir the
    // instance directory to use). Empty: the fixture writes
    // one with a free loopback port, and picks another port if that one is
    // taken before the server binds it.
    std::string conf_path;
    // Lines added to the generated operator.conf (key = value).
    std::map<std::string, std::string> extra_config;
    // Created on the first start; accounts() hands them out.
    std::vector<XmppAccount> accounts = {{"alice", "alice-pass"}, {"bob", "bob-pass"}};
    std::chrono::milliseconds ready_timeout{10000};
    // Honour VOKAR_TEST_XMPP. `external`, when set, is used instead of it.
    bool use_environment = true;
    std::optional<std::string> external;
};

// The operator's XMPP server for a test: tools/operator/xmpp/vokar-xmpp on
// a free loopback port, with its instance directory (and operator.conf) in
// a fresh temporary directory, stopped by pid. Accounts are made with
// vokar-accounts, the operator's own account tool. The script and the tool
// are the ones in the build, or those named by VOKAR_XMPP_SCRIPT and
// VOKAR_ACCOUNTS.
//
// When VOKAR_TEST_XMPP names another server, nothing is started: the fixture
// hands out that server and its two accounts, and can neither stop it nor
// create accounts there (can_stop() is false; tests that need either skip).
//
//   XmppServer server;
//   ASSERT_TRUE(server.start()) << server.error();
//   const XmppAccount& alice = server.accounts()[0];
//   connect_to(server.host(), server.port()); log_in(alice.user + "@" + server.domain(), ...);
class XmppServer {
public:
    explicit XmppServer(XmppServerOptions options = {});
    // Stops the server and removes the directory.
    ~XmppServer();
    XmppServer(const XmppServer&) = delete;
    XmppServer& operator=(const XmppServer&) = delete;

    // Starts the server and waits for its readiness line; false with error()
    // when it exits or is not ready in time. Starting again after stop()
    // keeps the port, the domain and every account.
    bool start();
    // SIGTERM, up to 5 s, then SIGKILL. Returns the server's exit code when
    // it exited by itself, nullopt when it had to be killed, was not running,
    // or is external.
    std::optional<int> stop();
    bool can_stop() const { return !external_; }
    bool external() const { return external_; }
    bool running();
    pid_t pid() const { return server_.pid(); }

    // Creates USER@domain through the operator's create-account path (store
    // and server together). False with error() on failure, and always on an
    // external server.
    bool create_account(const std::string& user, const std::string& password);
    bool delete_account(const std::string& user);
    // Two accounts ready for use: the options' accounts, or the external
    // server's two.
    const std::vector<XmppAccount>& accounts() const { return accounts_; }

    const std::string& host() const { return config_.xmpp_host; }
    uint16_t port() const { return config_.xmpp_port; }
    const std::string& domain() const { return config_.service_domain; }
    // The configuration the server was given (for an external server: the
    // defaults with its host, port and domain); point client code at it,
    // or at conf_path() through VOKAR_OPERATOR_CONF.
    const platform::OperatorConfig& config() const { return config_; }
    const std::string& conf_path() const { return conf_path_; }
    // The server's instance directory: the configuration's xmpp_dir when it
    // names one, else inside the fixture's own directory (empty for an
    // external server).
    const std::string& instance_dir() const { return instance_dir_; }
    const std::string& ready_line() const { return ready_line_; }
    const std::string& error() const { return error_; }
    // The server's own log and its stderr.
    std::string log() const;

    static std::string script_path();
    static std::string accounts_tool_path();

private:
    bool prepare();
    bool use_external(const std::string& description);
    bool write_config(std::string* error);
    bool start_once(bool* port_clash);
    bool run_accounts_tool(std::vector<std::string> args, const std::string& input);

    XmppServerOptions options_;
    bool external_ = false;
    bool prepared_ = false;
    std::string directory_;
    std::string instance_dir_;
    std::string conf_path_;
    std::string stderr_path_;
    platform::OperatorConfig config_;
    std::vector<XmppAccount> accounts_;
    ChildProcess server_;
    std::string ready_line_;
    std::string error_;
};

} // namespace vokar::test
