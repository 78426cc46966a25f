#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/operator/peer.h"
#include "tests/operator/xmpp_login.h"
#include "tests/support/free_ports.h"
#include "tests/support/xmpp_server.h"
#include "tools/operator/process/subprocess.h"

namespace vokar::test {
namespace {

namespace fs = std::filesystem;
using Result = XmppLogin::Result;

constexpr std::string_view kEmptySuccess = "<success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>";

// Our own server, whatever VOKAR_TEST_XMPP says: these tests are about it.
XmppServerOptions own_server()
{
    XmppServerOptions options;
    options.use_environment = false;
    return options;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(XmppService, StartsReadyAndStopsCleanlyOnSigterm)
{
    XmppServer server(own_server());
    ASSERT_TRUE(server.start()) << server.error();
    EXPECT_EQ(server.ready_line(), "vokar-xmpp ready xmpp=127.0.0.1:" +
                                       std::to_string(server.port()) + " domain=vokar.test");
    // Everything the server needs and writes is in its instance directory.
    const std::string dir = server.instance_dir();
    EXPECT_NE(read_file(dir + "/prosody.cfg.lua")
                  .find("c2s_ports = { " + std::to_string(server.port()) + " }"),
              std::string::npos);
    EXPECT_NE(read_file(dir + "/sasl/vokar.conf").find("sasldb_path: " + dir + "/sasldb2"),
              std::string::npos);
    EXPECT_EQ(read_file(dir + "/prosody.pid"), std::to_string(server.pid()));

    XmppLogin alice(server.port());
    ASSERT_TRUE(alice.valid());
    ASSERT_NE(alice.open_stream(server.domain()).find("<mechanism>DIGEST-MD5</mechanism>"),
              std::string::npos);
    ASSERT_EQ(alice.digest_md5("alice", "alice-pass", server.domain()), Result::success);

    // A connected client sees its connection end; the server exits with 0
    // within the fixture's 5 s grace (not killed), and removes its pid file.
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(server.stop(), 0) << server.log();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(4));
    EXPECT_TRUE(closed_by_peer(alice.fd()));
    EXPECT_FALSE(fs::exists(dir + "/prosody.pid"));
    EXPECT_FALSE(tcp_connect(server.port()).valid());
}

TEST(XmppService, RestartKeepsPortDomainAndAccounts)
{
    XmppServer server(own_server());
    ASSERT_TRUE(server.start()) << server.error();
    const uint16_t port = server.port();
    ASSERT_TRUE(server.create_account("carol", "carol-pass")) << server.error();
    server.stop();
    ASSERT_TRUE(server.start()) << server.error();
    EXPECT_EQ(server.port(), port);
    EXPECT_EQ(log_in(port, "vokar.test", "alice", "alice-pass"), Result::success);
    EXPECT_EQ(log_in(port, "vokar.test", "carol", "carol-pass"), Result::success);
}

// A server that could not serve anyone exits with 1 instead of printing its
// readiness line and running on.
TEST(XmppService, UnusableServerExitsInsteadOfRunning)
{
    const auto ports = free_loopback_ports(1, SOCK_STREAM);
    ASSERT_EQ(ports.size(), 1u);
    Socket holder(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(ports[0]);
    ASSERT_EQ(::bind(holder.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder.fd(), 4), 0);

    const std::string dir =
        fs::temp_directory_path() / ("vokar-xmpp-unusable-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir + "/operator.conf") << "xmpp_port = " << ports[0] << "\n";
    XmppServerOptions options = own_server();
    options.conf_path = dir + "/operator.conf";
    options.accounts.clear();
    XmppServer server(options);
    EXPECT_FALSE(server.start());
    EXPECT_NE(server.error().find("exited with status 1"), std::string::npos) << server.error();
    EXPECT_NE(
        server.error().find("cannot listen for clients on 127.0.0.1:" + std::to_string(ports[0])),
        std::string::npos);

    // Cyrus without its mechanism plugins (as without libsasl2-modules).
    holder = Socket();
    fs::create_directories(dir + "/no-plugins");
    operatord::ProgramRun run;
    run.argv = {XmppServer::script_path(), "--config", dir + "/operator.conf", "--dir",
                dir + "/instance"};
    run.environment = {{"SASL_PATH", dir + "/no-plugins"}};
    run.timeout = std::chrono::seconds(8);
    const auto result = operatord::run_program(run);
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("vokar-xmpp: the Cyrus SASL provider did not load"),
              std::string::npos)
        << result.err;
    fs::remove_all(dir);
}

TEST(XmppService, CreatedAccountLogsInWithDigestMd5AndOthersAreRefused)
{
    XmppServer server(own_server());
    ASSERT_TRUE(server.start()) << server.error();
    const std::string password = "s3cret: with spaces & <xml>";
    ASSERT_TRUE(server.create_account("15551234567", password)) << server.error();

    XmppLogin login(server.port());
    ASSERT_FALSE(login.open_stream(server.domain()).empty());
    ASSERT_EQ(login.digest_md5("15551234567", password, server.domain()), Result::success)
        << login.last_element();
    EXPECT_NE(login.challenge().find("realm=\"vokar.test\""), std::string::npos);
    // The bare element: Cyrus's stale success data never reaches the client.
    EXPECT_EQ(login.last_element(), kEmptySuccess);

    XmppLogin wrong(server.port());
    ASSERT_FALSE(wrong.open_stream(server.domain()).empty());
    EXPECT_EQ(wrong.digest_md5("15551234567", "s3cret", server.domain()), Result::refused);
    EXPECT_NE(wrong.last_element().find("<not-authorized/>"), std::string::npos);
    EXPECT_EQ(log_in(server.port(), server.domain(), "nobody", password), Result::refused);
}

TEST(XmppService, DeletedAccountCanNoLongerLogIn)
{
    XmppServer server(own_server());
    ASSERT_TRUE(server.start()) << server.error();
    ASSERT_EQ(log_in(server.port(), server.domain(), "bob", "bob-pass"), Result::success);
    ASSERT_TRUE(server.delete_account("bob")) << server.error();
    EXPECT_EQ(log_in(server.port(), server.domain(), "bob", "bob-pass"), Result::refused);
    EXPECT_FALSE(server.delete_account("bob"));
    EXPECT_NE(server.error().find("there is no account bob"), std::string::npos);
    // The name is free again, with a new password.
    ASSERT_TRUE(server.create_account("bob", "bob-new")) << server.error();
    EXPECT_EQ(log_in(server.port(), server.domain(), "bob", "bob-new"), Result::success);
}

TEST(XmppService, ExternalServerIsHandedOutButNeverControlled)
{
    XmppServer own(own_server());
    ASSERT_TRUE(own.start()) << own.error();
    XmppServerOptions options;
    options.external =
        "127.0.0.1:" + std::to_string(own.port()) + ":vokar.test:alice:alice-pass:bob:bob-pass";
    {
        XmppServer external(options);
        ASSERT_TRUE(external.start()) << external.error();
        EXPECT_TRUE(external.external());
        EXPECT_FALSE(external.can_stop());
        EXPECT_EQ(external.port(), own.port());
        EXPECT_EQ(external.domain(), "vokar.test");
        ASSERT_EQ(external.accounts().size(), 2u);
        EXPECT_EQ(external.accounts()[1].user, "bob");
        EXPECT_NE(read_file(external.conf_path()).find("xmpp_port = " + std::to_string(own.port())),
                  std::string::npos);
        EXPECT_FALSE(external.create_account("dave", "dave-pass"));
        EXPECT_EQ(external.stop(), std::nullopt);
        const auto& bob = external.accounts()[1];
        EXPECT_EQ(log_in(external.port(), external.domain(), bob.user, bob.password),
                  Result::success);
    }
    EXPECT_TRUE(own.running());
}

TEST(XmppService, ExternalServerDescription)
{
    std::string error;
    const auto external =
        ExternalXmpp::parse("xmpp.example:5222:example.org:u1:p1:u2:p:2:", &error);
    ASSERT_TRUE(external) << error;
    EXPECT_EQ(external->host, "xmpp.example");
    EXPECT_EQ(external->port, 5222);
    EXPECT_EQ(external->domain, "example.org");
    EXPECT_EQ(external->first.user, "u1");
    EXPECT_EQ(external->first.password, "p1");
    EXPECT_EQ(external->second.user, "u2");
    EXPECT_EQ(external->second.password, "p:2:");
    for (const char* bad : {"h:5222:d:u1:p1:u2", "h:0:d:u1:p1:u2:p2", "h:65536:d:u1:p1:u2:p2",
                            "h:52x:d:u1:p1:u2:p2", "h:5222:d:u1::u2:p2"}) {
        EXPECT_FALSE(ExternalXmpp::parse(bad, &error)) << bad;
    }
}

} // namespace
} // namespace vokar::test
