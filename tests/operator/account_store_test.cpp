#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "tools/operator/accounts/account_store.h"

namespace vokar::operatord {
namespace {

namespace fs = std::filesystem;

class AccountStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = fs::temp_directory_path() / "vokar-store-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        path_ = root_ + "/accounts.db";
    }
    void TearDown() override { fs::remove_all(root_); }

    void set_user_version(int version)
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
        const std::string sql = "PRAGMA user_version = " + std::to_string(version);
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }

    std::string root_;
    std::string path_;
};

TEST_F(AccountStoreTest, AccountsSurviveReopening)
{
    std::string error;
    {
        auto store = AccountStore::open(path_, &error);
        ASSERT_TRUE(store) << error;
        EXPECT_EQ(store->schema_version(), AccountStore::latest_schema_version());
        ASSERT_TRUE(store->insert({"zed", "pw1", "Zed", "", "", 1}, &error)) << error;
        ASSERT_TRUE(store->insert({"amy", "p'w\"2", "Ämy 😀", "amy@x.test", "44", 2}, &error));
        EXPECT_FALSE(store->insert({"amy", "other", "", "", "", 3}, &error));
        EXPECT_EQ(error, "the account amy exists");
        // A transaction that is not committed leaves nothing behind.
        auto transaction = store->begin(&error);
        ASSERT_TRUE(transaction.active()) << error;
        ASSERT_TRUE(store->insert({"ghost", "pw", "", "", "", 4}, &error));
    }
    auto store = AccountStore::open(path_, &error);
    ASSERT_TRUE(store) << error;
    std::vector<Account> all;
    ASSERT_TRUE(store->list(&all, &error)) << error;
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].user_name, "amy");
    EXPECT_EQ(all[0].password, "p'w\"2");
    EXPECT_EQ(all[0].nickname, "Ämy 😀");
    EXPECT_EQ(all[0].email, "amy@x.test");
    EXPECT_EQ(all[0].country_code, "44");
    EXPECT_EQ(all[0].created_at, 2);
    EXPECT_EQ(all[1].user_name, "zed");
    EXPECT_TRUE(store->remove("zed", &error));
    EXPECT_FALSE(store->remove("zed", &error));
    EXPECT_TRUE(error.empty());
}

TEST_F(AccountStoreTest, RefusesFilesItCannotReadCorrectly)
{
    std::string error;
    ASSERT_TRUE(AccountStore::open(path_, &error)) << error;
    set_user_version(AccountStore::latest_schema_version() + 1);
    EXPECT_FALSE(AccountStore::open(path_, &error));
    EXPECT_NE(error.find("newer than this program's"), std::string::npos) << error;

    std::ofstream(root_ + "/text.db") << "name,password\nalice,secret\n";
    EXPECT_FALSE(AccountStore::open(root_ + "/text.db", &error));
    EXPECT_NE(error.find("not a database"), std::string::npos) << error;
    EXPECT_FALSE(AccountStore::open(root_ + "/missing/accounts.db", &error));
}

TEST_F(AccountStoreTest, VersionOneStoreIsUpgradedKeepingItsAccounts)
{
    // A store as the first version wrote it.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE accounts (id INTEGER PRIMARY KEY, user_name TEXT NOT NULL"
                           " UNIQUE, password TEXT NOT NULL, nickname TEXT NOT NULL DEFAULT '',"
                           " email TEXT NOT NULL DEFAULT '', country_code TEXT NOT NULL DEFAULT '',"
                           " created_at INTEGER NOT NULL);"
                           "INSERT INTO accounts (user_name, password, created_at)"
                           " VALUES ('amy', 'pw', 7);"
                           "PRAGMA user_version = 1;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    std::string error;
    auto store = AccountStore::open(path_, &error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->schema_version(), AccountStore::latest_schema_version());
    Account amy;
    ASSERT_EQ(store->find("amy", &amy, &error), AccountStore::Lookup::found);
    EXPECT_EQ(amy.created_at, 7);

    // The opening credit is set once; later callers see the stored value.
    int64_t cents = 0;
    ASSERT_EQ(store->balance("amy", 500, &cents, &error), AccountStore::Lookup::found) << error;
    EXPECT_EQ(cents, 500);
    ASSERT_EQ(store->balance("amy", 900, &cents, &error), AccountStore::Lookup::found);
    EXPECT_EQ(cents, 500);
    EXPECT_EQ(store->balance("zed", 500, &cents, &error), AccountStore::Lookup::absent);

    ASSERT_TRUE(store->queue_message({0, "amy", "2782", "hi", false, 9}, &error)) << error;
    ASSERT_TRUE(store->queue_message({0, "amy", "2783", "", true, 10}, &error)) << error;
    // Accepted messages stay queued when their sender goes; the balance goes.
    ASSERT_TRUE(store->remove("amy", &error));
    ASSERT_TRUE(store->insert({"amy", "new", "", "", "", 11}, &error));
    ASSERT_EQ(store->balance("amy", 100, &cents, &error), AccountStore::Lookup::found);
    EXPECT_EQ(cents, 100);
    std::vector<OutboxMessage> queued;
    ASSERT_TRUE(store->outbox(&queued, &error)) << error;
    ASSERT_EQ(queued.size(), 2u);
    EXPECT_EQ(queued[0].recipient, "2782");
    EXPECT_EQ(queued[0].text, "hi");
    EXPECT_FALSE(queued[0].invite);
    EXPECT_EQ(queued[1].recipient, "2783");
    EXPECT_TRUE(queued[1].invite);
    EXPECT_LT(queued[0].id, queued[1].id);

    // The SIP server reads the accounts, as they are now, through the
    // subscriber view, opened read-only.
    store.reset();
    ASSERT_EQ(sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* query = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "SELECT username, domain, password, ha1, ha1b FROM subscriber"
                                 " WHERE username = 'amy'",
                                 -1, &query, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(query), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(query, 2)), "new");
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(query, 1)), "");
    sqlite3_finalize(query);
    sqlite3_close(db);
}

} // namespace
} // namespace vokar::operatord
