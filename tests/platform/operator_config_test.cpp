#include "platform/operator_config.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace vokar::platform {
namespace {

TEST(OperatorConfig, DefaultsAreTheOperatorsFixedValues)
{
    const OperatorConfig c;
    EXPECT_EQ(c.service_domain, "vokar.test");
    EXPECT_EQ(c.sip_domain, "sip.vokar.test");
    EXPECT_EQ(c.sip_port, 5060);
    EXPECT_EQ(c.xmpp_port, 5222);
    EXPECT_EQ(c.web_port, 80);
    EXPECT_EQ(c.web_host_name, "www.vokar.test");
    EXPECT_EQ(c.sister_web_host_name, "www.quillvoce.test");
    EXPECT_EQ(c.stun_port, 3478);
    EXPECT_EQ(c.server_port, 443);
    EXPECT_EQ(c.echo_udp_port, 10469);
    EXPECT_EQ(c.echo_tcp_port, 5002);
    EXPECT_EQ(c.relay_port, 10000);
    EXPECT_EQ(c.gtalk_mail_domain, "gmail.com");
    EXPECT_EQ(c.holler_sender_number, "15555550100");
    EXPECT_EQ(c.signup_salt, "719kqd");
    EXPECT_EQ(c.adapter, "");
}

TEST(OperatorConfig, FileOverridesDefaultsAndKeepsOperatorKeys)
{
    std::string error;
    const auto c = OperatorConfig::parse("# demo stack\n"
                                         "  xmpp_port = 15222  \r\n"
                                         "service_domain=example.test\n"
                                         "\n"
                                         "adapter = lo\n"
                                         "database = /tmp/op.db\n"
                                         "xmpp_port = 15223\n"
                                         "sip_scramble = 0\n",
                                         "test.conf", &error);
    ASSERT_TRUE(c) << error;
    EXPECT_EQ(c->xmpp_port, 15223); // the last line wins
    EXPECT_EQ(c->service_domain, "example.test");
    EXPECT_EQ(c->adapter, "lo");
    EXPECT_EQ(c->sip_port, 5060);
    EXPECT_FALSE(c->sip_scramble);
    EXPECT_EQ(c->get("database"), "/tmp/op.db");
    EXPECT_EQ(c->get("xmpp_port"), "15223");
    EXPECT_EQ(c->get("missing", "fallback"), "fallback");
}

TEST(OperatorConfig, MalformedLinesAreRejectedWithTheirLineNumber)
{
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"sip_port = 0\n", "a.conf:1: 'sip_port' must be a port number from 1 to 65535, not '0'"},
        {"ok = 1\nweb_port = 65536\n",
         "a.conf:2: 'web_port' must be a port number from 1 to 65535, not '65536'"},
        {"stun_port = 34x\n",
         "a.conf:1: 'stun_port' must be a port number from 1 to 65535, not '34x'"},
        {"\n\njust words\n", "a.conf:3: expected 'key = value'"},
        {" = value\n", "a.conf:1: missing key before '='"},
        {"sip_scramble = yes\n", "a.conf:1: 'sip_scramble' must be 0 or 1, not 'yes'"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(OperatorConfig::parse(c.text, "a.conf", &error)) << c.text;
        EXPECT_EQ(error, c.error);
    }
}

TEST(OperatorConfig, EnvironmentNamesTheFile)
{
    const std::string path = ::testing::TempDir() + "vokar_operator_test.conf";
    std::ofstream(path) << "web_port = 8080\n";
    ::setenv("VOKAR_OPERATOR_CONF", path.c_str(), 1);
    auto c = OperatorConfig::from_environment();
    ASSERT_TRUE(c);
    EXPECT_EQ(c->web_port, 8080);

    ::setenv("VOKAR_OPERATOR_CONF", (path + ".missing").c_str(), 1);
    std::string error;
    EXPECT_FALSE(OperatorConfig::from_environment(&error));
    EXPECT_NE(error.find("cannot read operator configuration"), std::string::npos);

    ::unsetenv("VOKAR_OPERATOR_CONF");
    c = OperatorConfig::from_environment();
    ASSERT_TRUE(c);
    EXPECT_EQ(c->web_port, 80);
}

} // namespace
} // namespace vokar::platform
