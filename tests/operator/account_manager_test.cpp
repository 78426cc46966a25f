#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/xmpp_server.h"
#include "tools/operator/accounts/account_manager.h"
#include "tools/operator/process/subprocess.h"

namespace vokar::operatord {
namespace {

namespace fs = std::filesystem;
using Outcome = AccountResult::Outcome;
using Presence = SaslUserDb::Presence;

// A fresh instance directory (no server running: the accounts live in files).
class AccountManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = fs::temp_directory_path() / "vokar-accounts-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        std::string error;
        auto instance = XmppInstance::make(platform::OperatorConfig{}, root_ + "/xmpp", &error);
        ASSERT_TRUE(instance) << error;
        instance_ = *instance;
    }
    void TearDown() override { fs::remove_all(root_); }

    std::unique_ptr<AccountManager> open(AccountManager::Options options = {})
    {
        std::string error;
        auto manager = AccountManager::open(instance_, std::move(options), &error);
        EXPECT_TRUE(manager) << error;
        return manager;
    }
    // A stand-in for saslpasswd2: a shell script; $REAL is the real tool.
    std::string fake_saslpasswd2(const std::string& body)
    {
        const std::string path = root_ + "/fake-saslpasswd2-" + std::to_string(fakes_++);
        std::ofstream(path) << "#!/bin/sh\nREAL=" << find_program("saslpasswd2").value_or("")
                            << "\n"
                            << body << "\n";
        fs::permissions(path, fs::perms::owner_all);
        return path;
    }
    bool in_store(AccountManager& manager, const std::string& user)
    {
        std::string error;
        return manager.store().find(user, nullptr, &error) == AccountStore::Lookup::found;
    }
    Presence on_server(AccountManager& manager, const std::string& user)
    {
        std::string error;
        return manager.users().contains(user, &error);
    }

    std::string root_;
    XmppInstance instance_;
    int fakes_ = 0;
};

NewAccount account(std::string user, std::string password = "pass-word")
{
    return NewAccount{std::move(user), std::move(password), "", "", ""};
}

TEST_F(AccountManagerTest, CreateWritesStoreAndServerTogether)
{
    AccountManager::Options options;
    options.clock = [] { return int64_t{1700000000}; };
    auto manager = open(options);
    const NewAccount alice{"15551234567", "pa ss:word", "Alice Ä", "alice@example.test", "1"};
    ASSERT_TRUE(manager->create(alice)) << manager->create(alice).message;

    Account stored;
    std::string error;
    ASSERT_EQ(manager->store().find("15551234567", &stored, &error), AccountStore::Lookup::found);
    EXPECT_EQ(stored.password, "pa ss:word");
    EXPECT_EQ(stored.nickname, "Alice Ä");
    EXPECT_EQ(stored.email, "alice@example.test");
    EXPECT_EQ(stored.country_code, "1");
    EXPECT_EQ(stored.created_at, 1700000000);
    EXPECT_EQ(on_server(*manager, "15551234567"), Presence::present);
    // Both files hold passwords in plain.
    struct stat file {};
    ASSERT_EQ(::stat(instance_.account_db.c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(instance_.directory.c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 0077, 0u);
}

TEST_F(AccountManagerTest, DeleteRemovesFromBoth)
{
    auto manager = open();
    ASSERT_TRUE(manager->create(account("alice")));
    ASSERT_TRUE(manager->create(account("bob")));
    EXPECT_TRUE(manager->remove("alice"));
    EXPECT_FALSE(in_store(*manager, "alice"));
    EXPECT_EQ(on_server(*manager, "alice"), Presence::absent);
    EXPECT_TRUE(in_store(*manager, "bob"));
    EXPECT_EQ(on_server(*manager, "bob"), Presence::present);
    EXPECT_EQ(manager->remove("alice").outcome, Outcome::not_found);
    EXPECT_EQ(manager->remove("-d").outcome, Outcome::not_found);
}

TEST_F(AccountManagerTest, ExistingUsersAreNeitherOverwrittenNorTakenOver)
{
    auto manager = open();
    ASSERT_TRUE(manager->create(account("alice", "first")));
    const auto again = manager->create(account("alice", "second"));
    EXPECT_EQ(again.outcome, Outcome::exists);
    Account stored;
    std::string error;
    manager->store().find("alice", &stored, &error);
    EXPECT_EQ(stored.password, "first");

    // A server user made outside the store stays the server's.
    ASSERT_TRUE(manager->users().set_password("stray", "theirs", &error)) << error;
    const auto taken = manager->create(account("stray"));
    EXPECT_EQ(taken.outcome, Outcome::exists);
    EXPECT_NE(taken.message.find("XMPP server already has a user stray"), std::string::npos);
    EXPECT_FALSE(in_store(*manager, "stray"));
    EXPECT_EQ(on_server(*manager, "stray"), Presence::present);
    // Deleting cleans up such a half account.
    EXPECT_TRUE(manager->remove("stray"));
    EXPECT_EQ(on_server(*manager, "stray"), Presence::absent);
}

TEST_F(AccountManagerTest, FailedServerWriteLeavesNoAccountAnywhere)
{
    struct Case {
        const char* what;
        const char* script;
    };
    const Case cases[] = {
        {"refuses", "echo 'saslpasswd2: generic failure' >&2; exit 1"},
        {"writes, then fails", "\"$REAL\" \"$@\"; exit 1"},
        {"crashes after writing", "\"$REAL\" \"$@\"; kill -SEGV $$"},
        {"hangs", "exec sleep 30"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AccountManager::Options options;
        options.tools.saslpasswd2 = fake_saslpasswd2(c.script);
        options.tools.timeout = std::chrono::milliseconds(500);
        auto manager = open(options);
        const auto result = manager->create(account("alice"));
        EXPECT_EQ(result.outcome, Outcome::failed);
        EXPECT_NE(result.message.find("cannot add alice"), std::string::npos) << result.message;
        EXPECT_FALSE(in_store(*manager, "alice"));
        EXPECT_EQ(on_server(*manager, "alice"), Presence::absent);
    }
    // The name is still free for a creation that works.
    auto manager = open();
    EXPECT_TRUE(manager->create(account("alice")));
}

TEST_F(AccountManagerTest, FailedServerRemovalKeepsTheWholeAccount)
{
    ASSERT_TRUE(open()->create(account("alice")));
    AccountManager::Options options;
    options.tools.saslpasswd2 =
        fake_saslpasswd2("case \" $* \" in *\" -d \"*) exit 1 ;; esac; exec \"$REAL\" \"$@\"");
    auto manager = open(options);
    EXPECT_EQ(manager->remove("alice").outcome, Outcome::failed);
    EXPECT_TRUE(in_store(*manager, "alice"));
    EXPECT_EQ(on_server(*manager, "alice"), Presence::present);
}

TEST_F(AccountManagerTest, RejectsAccountDataTheServerWouldMisread)
{
    auto manager = open();
    const std::string long_name(65, '1');
    const NewAccount bad[] = {
        account(""),
        account("Alice"), // the server folds case; the store would not
        account("alice@vokar.test"),
        account("-d"), // would be an option to saslpasswd2
        account(".alice"),
        account("al ice"),
        account(long_name),
        account("alice", ""),
        account("alice", "first\nsecond"), // saslpasswd2 would take only "first"
        account("alice", "tab\tbed"),
        account("alice", std::string(257, 'p')),
        NewAccount{"alice", "pw", "nick\nname", "", ""},
        NewAccount{"alice", "pw", "", std::string(255, 'e'), ""},
        NewAccount{"alice", "pw", "", "", "123456789"},
    };
    for (const auto& a : bad) {
        SCOPED_TRACE(a.user_name + " / " + a.password);
        EXPECT_EQ(manager->create(a).outcome, Outcome::invalid);
    }
    std::vector<Account> all;
    std::string error;
    ASSERT_TRUE(manager->store().list(&all, &error));
    EXPECT_TRUE(all.empty());
    EXPECT_TRUE(manager->create(account(std::string(64, '9'), std::string(256, 'p'))));
    EXPECT_TRUE(manager->create(account("a.b_c-d")));
}

TEST_F(AccountManagerTest, CommandLineTool)
{
    const std::string tool = test::XmppServer::accounts_tool_path();
    const auto run = [&](std::vector<std::string> args, std::string input = {}) {
        ProgramRun program;
        program.argv = {tool, "--dir", instance_.directory};
        program.argv.insert(program.argv.end(), args.begin(), args.end());
        program.input = std::move(input);
        program.environment = {{"VOKAR_OPERATOR_CONF", ""}};
        return run_program(program);
    };
    EXPECT_EQ(run({"create", "alice", "-", "--nickname", "Al", "--country", "44"}, "from stdin\n")
                  .exit_code,
              0);
    EXPECT_EQ(run({"create", "bob", "on-the-line"}).exit_code, 0);
    const auto duplicate = run({"create", "alice", "x"});
    EXPECT_EQ(duplicate.exit_code, 3);
    EXPECT_EQ(duplicate.err, "vokar-accounts: the account alice exists\n");
    EXPECT_EQ(run({"create", "Alice", "x"}).exit_code, 2);
    EXPECT_EQ(run({"delete"}).exit_code, 2);
    EXPECT_EQ(run({"list", "--email", "x"}).exit_code, 2);

    const auto list = run({"list"});
    ASSERT_EQ(list.exit_code, 0) << list.err;
    // user, nickname, e-mail, country, created; never the password.
    EXPECT_EQ(list.out.find("from stdin"), std::string::npos);
    ASSERT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 2);
    EXPECT_TRUE(list.out.starts_with("alice\tAl\t\t44\t20")) << list.out;
    EXPECT_NE(list.out.find("\nbob\t\t\t\t20"), std::string::npos) << list.out;

    auto manager = open();
    Account stored;
    std::string error;
    ASSERT_EQ(manager->store().find("alice", &stored, &error), AccountStore::Lookup::found);
    EXPECT_EQ(stored.password, "from stdin");
    EXPECT_EQ(run({"delete", "alice"}).exit_code, 0);
    EXPECT_EQ(run({"delete", "alice"}).exit_code, 3);
    EXPECT_EQ(on_server(*manager, "alice"), Presence::absent);

    // The set-up writes a random sign-up salt that the client reads too.
    const std::string conf = instance_.directory + "/operator.conf";
    std::ofstream(conf) << "# ours\nweb_port = 8080\nsignup_salt = 719kqd\n";
    const auto salt = [&] {
        ProgramRun program;
        program.argv = {tool, "--config", conf, "new-salt"};
        EXPECT_EQ(run_program(program).exit_code, 0);
        const auto config = platform::OperatorConfig::load_file(conf, &error);
        EXPECT_TRUE(config) << error;
        EXPECT_EQ(config->web_port, 8080);
        return config->signup_salt;
    };
    const std::string first = salt();
    EXPECT_EQ(first.size(), 16u);
    EXPECT_NE(salt(), first);
}

} // namespace
} // namespace vokar::operatord
