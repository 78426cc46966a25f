#include "account/settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sys/stat.h>

#include "base/scramble.h"
#include "platform/file.h"

namespace vokar {
namespace {

namespace fs = std::filesystem;

std::string u32(uint32_t v)
{
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

// A file of a scrambled layout: layout number, block length, block.
std::string scrambled_file(uint32_t layout, std::string_view text)
{
    const std::string block = scramble(text, 0x37);
    return u32(layout) + u32(static_cast<uint32_t>(block.size())) + block;
}

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::path(::testing::TempDir()) / ("vokar_settings_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "__settings").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void write(const std::string& bytes)
    {
        ASSERT_TRUE(platform::write_file_atomically(path_, bytes));
    }
    std::string read() { return platform::read_file(path_, 1 << 24).value_or(""); }
    std::unique_ptr<SettingsStore> open()
    {
        return std::make_unique<SettingsStore>(path_, config_);
    }
    // The XML inside the current file.
    std::string stored_xml()
    {
        const std::string file = read();
        EXPECT_GE(file.size(), 8u);
        return unscramble(file.substr(8));
    }

    fs::path dir_;
    std::string path_;
    platform::OperatorConfig config_;
};

TEST_F(SettingsStoreTest, SavesTheCurrentLayoutByteForByte)
{
    auto s = open();
    s->set(&Settings::username, L"+15551234567");
    s->server_list(SettingsStore::kXmppList).load("2\nx1.op:5222\nx2.op:5223", false);
    s->server_list(SettingsStore::kXmppList).set_index(1);
    ASSERT_TRUE(s->save());

    const std::string file = read();
    const std::string xml =
        "<settings os=\"wm\" version=\"2.2\">"
        "<user><username>+15551234567</username><password /><autologin>false</autologin></user>"
        "<sip><domain>sip.vokar.test</domain><dialing_prefix>-1</dialing_prefix>"
        "<ring_volume>4</ring_volume><volume>3</volume></sip>"
        "<jabber><message_alert>true</message_alert><allow_holler>true</allow_holler>"
        "<show_offline_friends>true</show_offline_friends></jabber>"
        "<servers><sip index=\"0\" /><jabber index=\"1\"><server>x1.op:5222</server>"
        "<server>x2.op:5223</server></jabber><php index=\"0\" /><stun index=\"0\" /></servers>"
        "</settings>";
    ASSERT_EQ(file.size(), xml.size() + 1 + 8);
    EXPECT_EQ(file.substr(0, 4), std::string("\xE6\0\0\0", 4));
    EXPECT_EQ(file.substr(4, 4), u32(static_cast<uint32_t>(xml.size() + 1)));
    EXPECT_EQ(unscramble(file.substr(8)), xml);

    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(fs::exists(path_ + ".tmp"));
}

TEST_F(SettingsStoreTest, EveryFieldSurvivesSaveAndLoad)
{
    {
        auto s = open();
        s->set(&Settings::username, L"+4479001234");
        s->set(&Settings::password,
               L"p\u00e4ss<&>\"word\\"); // markup, entities and a trailing backslash
        s->set(&Settings::dialing_prefix, L"00");
        s->set(&Settings::ring_volume, 7);
        s->set(&Settings::volume, 0);
        s->set(&Settings::autologin, true);
        s->set(&Settings::message_alert, false);
        s->set(&Settings::show_offline_friends, false);
        s->set(&Settings::allow_holler, false);
        s->set(&Settings::domain, "sip.other.test");
        s->server_list(0).load("1\ns.op:5060", false);
        s->server_list(2).load("2\nw1.op:80\nw2.op:8080", false);
        s->server_list(2).set_index(1);
        s->server_list(3).load("1\nst.op:3478", false);
        ASSERT_TRUE(s->save());
    }
    auto s = open();
    EXPECT_FALSE(s->get(&Settings::first_run));
    EXPECT_EQ(s->get(&Settings::username), L"+4479001234");
    EXPECT_EQ(s->get(&Settings::password), L"p\u00e4ss<&>\"word\\");
    EXPECT_EQ(s->get(&Settings::dialing_prefix), L"00");
    EXPECT_EQ(s->get(&Settings::ring_volume), 7);
    EXPECT_EQ(s->get(&Settings::volume), 0);
    EXPECT_TRUE(s->get(&Settings::autologin));
    EXPECT_FALSE(s->get(&Settings::message_alert));
    EXPECT_FALSE(s->get(&Settings::show_offline_friends));
    EXPECT_FALSE(s->get(&Settings::allow_holler));
    EXPECT_EQ(s->get(&Settings::domain), "sip.other.test");
    EXPECT_EQ(s->server_list(0).entries(), (std::vector<ServerEndpoint>{{"s.op", 5060}}));
    EXPECT_EQ(s->server_list(2).entries(),
              (std::vector<ServerEndpoint>{{"w1.op", 80}, {"w2.op", 8080}}));
    EXPECT_EQ(s->server_list(2).index(), 1u);
    EXPECT_EQ(s->server_list(3).current(), (ServerEndpoint{"st.op", 3478}));
    EXPECT_TRUE(s->server_list(1).entries().empty());
}

TEST_F(SettingsStoreTest, ToleratesWhatTheReaderMayMeet)
{
    const auto file_with = [](const std::string& body) {
        return scrambled_file(230, "<settings os=\"wm\" version=\"2.2\">" + body + "</settings>");
    };
    struct Case {
        const char* name;
        std::string file;
        std::function<void(SettingsStore&)> check;
    } cases[] = {
        {"volumes out of range are clamped",
         file_with("<sip><ring_volume>12</ring_volume><volume>-3</volume></sip>"),
         [](SettingsStore& s) {
             EXPECT_EQ(s.get(&Settings::ring_volume), 7);
             EXPECT_EQ(s.get(&Settings::volume), 0);
         }},
        {"an empty autologin means false", file_with("<user><autologin /></user>"),
         [](SettingsStore& s) { EXPECT_FALSE(s.get(&Settings::autologin)); }},
        {"servers without php leave the web list empty; bad entries are skipped",
         file_with("<servers><sip index=\"0\"><server>a.op:0</server><server>:5060</server>"
                   "<server>b.op; 5061</server><server>c.op</server></sip><other><server>x:1"
                   "</server></other></servers>"),
         [](SettingsStore& s) {
             EXPECT_EQ(s.server_list(0).entries(), (std::vector<ServerEndpoint>{{"b.op", 5061}}));
             EXPECT_TRUE(s.server_list(2).entries().empty());
         }},
        {"an index out of range stays until read",
         file_with("<servers><stun index=\"5\" /></servers>"),
         [](SettingsStore& s) {
             EXPECT_EQ(s.server_list(3).current_host(), "127.0.0.1");
             EXPECT_EQ(s.server_list(3).index(), 5u);
         }},
        {"a length beyond the file is bounded by the bytes present",
         u32(230) + u32(0x7FFFFFFF) +
             scramble("<settings><user><username>+1</username></user>"
                      "</settings>",
                      9),
         [](SettingsStore& s) { EXPECT_EQ(s.get(&Settings::username), L"+1"); }},
        {"a damaged block keeps every default", u32(230) + u32(40) + std::string(40, '\x5A'),
         [](SettingsStore& s) {
             EXPECT_FALSE(s.get(&Settings::first_run));
             EXPECT_EQ(s.get(&Settings::username), L"+");
             EXPECT_EQ(s.get(&Settings::ring_volume), 4);
         }},
        {"a document nested beyond the parser's limit keeps every default",
         [] {
             std::string deep;
             for (int i = 0; i < 80; ++i)
                 deep += "<a>";
             return scrambled_file(230, "<settings><user><username>+9</username></user>" + deep);
         }(),
         [](SettingsStore& s) { EXPECT_EQ(s.get(&Settings::username), L"+"); }},
        {"a file shorter than its header", std::string("\xE6\0", 2),
         [](SettingsStore& s) {
             EXPECT_FALSE(s.get(&Settings::first_run));
             EXPECT_EQ(s.get(&Settings::username), L"+");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write(c.file);
        auto s = open();
        c.check(*s);
        EXPECT_EQ(read(), c.file) << "loading never rewrites the file";
    }
}

TEST_F(SettingsStoreTest, Layout210IsReadAndRewrittenAsTheCurrentLayout)
{
    write(scrambled_file(210,
                         "+15550001\r\nsecret\n44\nGone fishing\n6 2\n1 0 0 1\n"
                         "2\nsip1.op:5060\nsip2.op:5061\n1\nxmpp.op:5222\n0\n1\nstun.op:3478\n"));
    auto s = open();
    EXPECT_FALSE(s->get(&Settings::first_run));
    EXPECT_EQ(s->get(&Settings::username), L"+15550001");
    EXPECT_EQ(s->get(&Settings::password), L"secret");
    EXPECT_EQ(s->get(&Settings::dialing_prefix), L"44");
    EXPECT_EQ(s->get(&Settings::status_message), L"Gone fishing");
    EXPECT_EQ(s->get(&Settings::ring_volume), 6);
    EXPECT_EQ(s->get(&Settings::volume), 2);
    EXPECT_TRUE(s->get(&Settings::autologin));
    EXPECT_FALSE(s->get(&Settings::message_alert));
    EXPECT_FALSE(s->get(&Settings::show_offline_friends));
    EXPECT_TRUE(s->get(&Settings::allow_holler));
    EXPECT_EQ(s->server_list(0).entries(),
              (std::vector<ServerEndpoint>{{"sip1.op", 5060}, {"sip2.op", 5061}}));
    EXPECT_EQ(s->server_list(1).entries(), (std::vector<ServerEndpoint>{{"xmpp.op", 5222}}));
    EXPECT_TRUE(s->server_list(2).entries().empty());
    EXPECT_EQ(s->server_list(3).entries(), (std::vector<ServerEndpoint>{{"stun.op", 3478}}));

    ASSERT_TRUE(s->save());
    EXPECT_EQ(read().substr(0, 4), u32(230));
    auto again = open();
    EXPECT_EQ(again->get(&Settings::username), L"+15550001");
    EXPECT_EQ(again->server_list(0).entries().size(), 2u);
}

TEST_F(SettingsStoreTest, OlderLayoutsAndPlainText)
{
    struct Case {
        const char* name;
        std::string file;
        std::wstring username;
        int32_t ring, volume, a, b;
        size_t sip_entries;
    } cases[] = {
        {"102", scrambled_file(102, "+1\npw\n1\n9 1 2 5\n"), L"+1", 4, 5, 1, 2, 0},
        {"200", scrambled_file(200, "+2\npw\n1\n3 7 9 -1\n1\ns.op:5060\n0\n0\n0\n"), L"+2", 3, 3, 0,
         1, 1},
        // Any other number below the current layout: plain text from the first byte.
        {"plain text", u32(100) + "\r\npw\r\n44\r\n5 0 0 6\r\n", std::wstring(L"d\0\0\0", 4), 5, 6,
         0, 0, 0},
        {"plain text cut short", u32(100) + "\npw\n", std::wstring(L"d\0\0\0", 4), 4, 3, 0, 1, 0},
        {"200 with a damaged count", scrambled_file(200, "+5\npw\n1\n1 1 1 1\n99999999\na:1\n"),
         L"+5", 1, 1, 1, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write(c.file);
        auto s = open();
        EXPECT_FALSE(s->get(&Settings::first_run));
        EXPECT_EQ(s->get(&Settings::username), c.username);
        EXPECT_EQ(s->get(&Settings::ring_volume), c.ring);
        EXPECT_EQ(s->get(&Settings::volume), c.volume);
        EXPECT_EQ(s->get(&Settings::legacy_a), c.a);
        EXPECT_EQ(s->get(&Settings::legacy_b), c.b);
        EXPECT_EQ(s->server_list(0).entries().size(), c.sip_entries);
    }
}

TEST_F(SettingsStoreTest, AFailedSaveLeavesThePreviousFileIntact)
{
    auto s = open();
    s->set(&Settings::username, L"+1000");
    ASSERT_TRUE(s->save());
    const std::string before = read();
    fs::create_directory(path_ + ".tmp"); // the temporary file cannot be created
    s->set(&Settings::username, L"+2000");
    EXPECT_FALSE(s->save());
    EXPECT_EQ(read(), before);
    EXPECT_EQ(open()->get(&Settings::username), L"+1000");
}

TEST_F(SettingsStoreTest, ALeftoverTemporaryFileIsRemovedAtStartUp)
{
    auto s = open();
    s->set(&Settings::username, L"+1000");
    ASSERT_TRUE(s->save());
    s.reset();
    ASSERT_TRUE(platform::write_file_atomically(path_ + "-x", "stale credentials"));
    fs::rename(path_ + "-x", path_ + ".tmp"); // what a kill during a save leaves
    EXPECT_EQ(open()->get(&Settings::username), L"+1000");
    EXPECT_FALSE(fs::exists(path_ + ".tmp"));
}

TEST_F(SettingsStoreTest, ASaveAskedForSoonIsWrittenAtTheLatestWhenTheStoreCloses)
{
    auto s = open();
    EXPECT_FALSE(fs::exists(path_)) << "loading never writes";
    s->set(&Settings::username, L"+1000");
    s->save_soon();
    s.reset();
    EXPECT_EQ(open()->get(&Settings::username), L"+1000");
}

TEST_F(SettingsStoreTest, ConcurrentSavesNeverLeaveAMixedFile)
{
    auto s = open();
    std::vector<std::thread> savers;
    for (int i = 0; i < 4; ++i)
        savers.emplace_back([&] {
            for (int n = 0; n < 20; ++n)
                s->save();
        });
    for (auto& t : savers)
        t.join();
    auto again = open();
    EXPECT_EQ(again->get(&Settings::username), L"+");
    EXPECT_EQ(stored_xml().substr(0, 9), "<settings");
}

} // namespace
} // namespace vokar
