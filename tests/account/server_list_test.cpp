#include "account/server_list.h"
#include "account/server_list_answer.h"
#include "account/settings_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <filesystem>

namespace vokar {
namespace {

using platform::OperatorConfig;

class ServerListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        config_.sip_host = "sip.default";
        config_.xmpp_host = "xmpp.default";
        config_.web_host = "web.default";
        config_.stun_host = "stun.default";
        path_ = ::testing::TempDir() + "vokar_server_list_" + std::to_string(::getpid());
        std::filesystem::remove(path_);
        store_ = std::make_unique<SettingsStore>(path_, config_);
    }
    void TearDown() override { std::filesystem::remove(path_); }

    ServerList& list(size_t i) { return store_->server_list(i); }

    OperatorConfig config_;
    std::string path_;
    std::unique_ptr<SettingsStore> store_;
};

TEST_F(ServerListTest, EmptyListsUseTheirKindsDefaultEndpoint)
{
    EXPECT_EQ(list(0).current(), (ServerEndpoint{"sip.default", 5060}));
    EXPECT_EQ(list(4).current(), (ServerEndpoint{"127.0.0.1", 443}));
    EXPECT_EQ(list(4).kind(), kServerFallback);
    EXPECT_EQ(default_endpoint(42, config_), (ServerEndpoint{"vokar.test", 80}));
}

TEST_F(ServerListTest, AnswerWithOneSectionEmptiesTheOthersAndAnEmptyOneNothing)
{
    list(1).load("1\nold.xmpp:5222", true);
    store_->apply_server_list_answer("-SIP\nsip1.op:5060\nsip2.op:5060\n-ENDLIST\n");
    EXPECT_EQ(list(0).entries(),
              (std::vector<ServerEndpoint>{{"sip1.op", 5060}, {"sip2.op", 5060}}));
    EXPECT_EQ(list(0).current(), (ServerEndpoint{"sip1.op", 5060}));
    EXPECT_TRUE(list(1).entries().empty());
    EXPECT_EQ(list(1).current(), (ServerEndpoint{"xmpp.default", 5222}));
    EXPECT_EQ(list(2).current(), (ServerEndpoint{"web.default", 80}));
    EXPECT_EQ(list(3).current(), (ServerEndpoint{"stun.default", 3478}));

    store_->set(&Settings::domain, "keep.domain");
    store_->apply_server_list_answer("");
    EXPECT_EQ(list(0).entries().size(), 2u);
    EXPECT_EQ(store_->get(&Settings::domain), "keep.domain");
}

TEST_F(ServerListTest, AnswerSectionsAndTheirMarkers)
{
    store_->apply_server_list_answer(
        "\n-PHP\nweb.op:8080\n"
        "-JABBER\r\nx1.op:5222\r\nx2.op:5223\r\n"
        "-STUN\nstun.op:3478\n"
        "-PINGSERVER\nping.op:7\n"
        "-WHATEVER\nignored.op:1\n"
        "-DOMAIN\nfirst.domain\nsecond.domain\n"
        "-ENDLIST\nalso.ignored:2\n"
        "host-SIP-in-name.op:5060\n" // contains "-SIP": a marker, not an entry
        "sip.op:5060\n");
    EXPECT_EQ(list(2).entries(), (std::vector<ServerEndpoint>{{"web.op", 8080}}));
    EXPECT_EQ(list(1).entries(), (std::vector<ServerEndpoint>{{"x1.op", 5222}, {"x2.op", 5223}}));
    EXPECT_EQ(list(3).entries(), (std::vector<ServerEndpoint>{{"stun.op", 3478}}));
    EXPECT_EQ(list(0).entries(), (std::vector<ServerEndpoint>{{"sip.op", 5060}}));
    EXPECT_EQ(store_->get(&Settings::domain), "second.domain");

    const auto answer = ServerListAnswer::parse("-PINGSERVER\nping.op:7\n");
    EXPECT_EQ(answer.ping_servers, (std::vector<std::string>{"ping.op:7"}));
    EXPECT_EQ(answer.count_prefixed(0), "0");
}

TEST_F(ServerListTest, SameAnswerKeepsTheIndexReorderedHostsResetIt)
{
    const char* answer = "-JABBER\na.op:5222\nb.op:5222\nc.op:5222\n";
    store_->apply_server_list_answer(answer);
    list(1).advance();
    list(1).advance();
    EXPECT_EQ(list(1).index(), 2u);
    store_->apply_server_list_answer(answer);
    EXPECT_EQ(list(1).index(), 2u);
    store_->apply_server_list_answer("-JABBER\nb.op:5222\na.op:5222\nc.op:5222\n");
    EXPECT_EQ(list(1).index(), 0u);
    list(1).advance();
    store_->apply_server_list_answer(
        "-JABBER\nb.op:5222\na.op:5223\nc.op:5222\n"); // a port differs
    EXPECT_EQ(list(1).index(), 0u);
}

TEST_F(ServerListTest, AdvanceWrapsAndSavesUnlessTheListWasJustReplacedWhileUp)
{
    bool xmpp_up = false;
    store_->set_client_up([&](int kind) { return kind == kServerXmpp && xmpp_up; });
    store_->apply_server_list_answer("-JABBER\na.op:1\nb.op:2\nc.op:3\n-SIP\ns.op:5060\n");
    list(1).set_index(2);
    list(1).advance();
    EXPECT_EQ(list(1).index(), 0u);
    // Advancing asks the store's saving thread for a save.
    for (int i = 0; i < 2000 && !std::filesystem::exists(path_); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_TRUE(std::filesystem::exists(path_)) << "advancing saves the settings";

    xmpp_up = true;
    store_->apply_server_list_answer("-JABBER\nd.op:4\ne.op:5\n-SIP\ns2.op:5060\n");
    EXPECT_TRUE(list(1).skip_next_advance());
    EXPECT_FALSE(list(0).skip_next_advance()) << "the SIP login is not up";
    list(1).advance();
    EXPECT_EQ(list(1).index(), 0u);
    EXPECT_FALSE(list(1).skip_next_advance());
    list(1).advance();
    EXPECT_EQ(list(1).index(), 1u);
}

TEST_F(ServerListTest, IndexBeyondTheEntriesIsCorrectedOnlyWhenRead)
{
    list(3).set_index(5);
    EXPECT_EQ(list(3).current_host(), "stun.default");
    EXPECT_EQ(list(3).index(), 5u) << "an empty list leaves the index alone";
    list(3).load("2\ns1:3478\ns2:3479", false);
    EXPECT_EQ(list(3).index(), 5u);
    EXPECT_EQ(list(3).current_port(), 3478);
    EXPECT_EQ(list(3).index(), 0u);
}

TEST(ServerListLoad, CountPrefixedText)
{
    struct Case {
        const char* text;
        std::vector<ServerEndpoint> want;
    } cases[] = {
        {"2\na.op:5060\nb.op:5061\nc.op:5062", {{"a.op", 5060}, {"b.op", 5061}}},
        {"1 trailing words\nhost:12abc", {{"host", 12}}},
        {"1\n5060", {{"5060", 5060}}},                  // no colon: the line is host and port
        {"2\ngarbage\n\n", {{"garbage", 0}, {"", 0}}},  // lines are taken as they are
        {"2147483647\na:1\nb:2", {{"a", 1}, {"b", 2}}}, // a damaged count stops at the end
        {"-3\na:1", {}},
        {"", {}},
        {"0", {}},
    };
    for (const auto& c : cases) {
        ServerList list(kServerSip, {"default", 5060});
        list.load(c.text, false);
        EXPECT_EQ(list.entries(), c.want) << c.text;
    }
}

} // namespace
} // namespace vokar
