#include "tools/operator/accounts/account_store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <iterator>

namespace vokar::operatord {
namespace {

constexpr int kBusyTimeoutMs = 5000;

// Schema steps: running step N takes a database from version N to N + 1.
// Steps are only ever appended.
constexpr const char* kSchemaSteps[] = {
    // 1: the accounts.
    "CREATE TABLE accounts ("
    "  id           INTEGER PRIMARY KEY,"
    "  user_name    TEXT NOT NULL UNIQUE,"
    "  password     TEXT NOT NULL,"
    "  nickname     TEXT NOT NULL DEFAULT '',"
    "  email        TEXT NOT NULL DEFAULT '',"
    "  country_code TEXT NOT NULL DEFAULT '',"
    "  created_at   INTEGER NOT NULL"
    ")",
    // 2: the web service's balances (one per account, in cents) and the
    // outbox of SMS and invitations it has accepted.
    "CREATE TABLE balances ("
    "  account_id INTEGER PRIMARY KEY REFERENCES accounts(id) ON DELETE CASCADE,"
    "  cents      INTEGER NOT NULL"
    ");"
    "CREATE TABLE outbox ("
    "  id        INTEGER PRIMARY KEY,"
    "  sender    TEXT NOT NULL,"
    "  recipient TEXT NOT NULL,"
    "  text      TEXT NOT NULL,"
    "  invite    INTEGER NOT NULL DEFAULT 0,"
    "  queued_at INTEGER NOT NULL"
    ")",
    // 3: the accounts as the SIP server's digest authentication reads them
    // (plaintext passwords, no domain), read-only.
    "CREATE VIEW subscriber AS"
    "  SELECT user_name AS username, '' AS domain, password, '' AS ha1, '' AS ha1b"
    "  FROM accounts",
};

class Statement {
public:
    Statement(sqlite3* db, const char* sql)
    {
        rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return rc_ == SQLITE_OK; }
    void bind(int index, std::string_view text)
    {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    }
    void bind(int index, int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
    int step() { return sqlite3_step(stmt_); }
    std::string text(int column) const
    {
        const auto* data = sqlite3_column_text(stmt_, column);
        return data ? std::string(reinterpret_cast<const char*>(data),
                                  static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
                    : std::string();
    }
    int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_;
};

constexpr const char* kAccountColumns =
    "user_name, password, nickname, email, country_code, created_at";

Account read_account(const Statement& row)
{
    return Account{row.text(0), row.text(1), row.text(2), row.text(3), row.text(4), row.integer(5)};
}

} // namespace

std::unique_ptr<AccountStore> AccountStore::open(const std::string& path, std::string* error)
{
    struct stat existing {};
    const bool created = ::stat(path.c_str(), &existing) != 0;
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        *error = "cannot open the account store " + path + ": " +
                 (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        sqlite3_close(db);
        return nullptr;
    }
    // The file holds passwords.
    if (created)
        ::chmod(path.c_str(), 0600);
    std::unique_ptr<AccountStore> store(new AccountStore(db, path));
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db, 1);
    if (!store->exec("PRAGMA foreign_keys = ON", error) || !store->migrate(error))
        return nullptr;
    return store;
}

AccountStore::~AccountStore()
{
    sqlite3_close(db_);
}

int AccountStore::latest_schema_version()
{
    return static_cast<int>(std::size(kSchemaSteps));
}

int AccountStore::schema_version()
{
    Statement query(db_, "PRAGMA user_version");
    return query.ok() && query.step() == SQLITE_ROW ? static_cast<int>(query.integer(0)) : -1;
}

std::string AccountStore::message(std::string_view what) const
{
    return std::string(what) + " in " + path_ + ": " + sqlite3_errmsg(db_);
}

bool AccountStore::exec(const char* sql, std::string* error)
{
    char* text = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &text) == SQLITE_OK)
        return true;
    *error = "account store " + path_ + ": " + (text ? text : sqlite3_errmsg(db_));
    sqlite3_free(text);
    return false;
}

bool AccountStore::migrate(std::string* error)
{
    const auto too_new = [&](int version) {
        *error = "the account store " + path_ + " has schema version " + std::to_string(version) +
                 ", newer than this program's " + std::to_string(latest_schema_version());
        return false;
    };
    int version = schema_version();
    if (version < 0)
        return (*error = message("cannot read the schema version"), false);
    if (version > latest_schema_version())
        return too_new(version);
    if (version == latest_schema_version())
        return true;
    // Another process may be upgrading the same file: read the version again
    // once the write lock is ours.
    Transaction transaction = begin(error);
    if (!transaction.active())
        return false;
    version = schema_version();
    if (version > latest_schema_version())
        return too_new(version);
    for (; version < latest_schema_version(); ++version) {
        if (!exec(kSchemaSteps[version], error))
            return false;
    }
    const std::string set_version = "PRAGMA user_version = " + std::to_string(version);
    return exec(set_version.c_str(), error) && transaction.commit(error);
}

AccountStore::Transaction AccountStore::begin(std::string* error)
{
    return Transaction(exec("BEGIN IMMEDIATE", error) ? this : nullptr);
}

AccountStore::Transaction::Transaction(Transaction&& other) noexcept : store_(other.store_)
{
    other.store_ = nullptr;
}

AccountStore::Transaction::~Transaction()
{
    rollback();
}

bool AccountStore::Transaction::commit(std::string* error)
{
    if (!store_)
        return (*error = "no transaction to commit", false);
    if (!store_->exec("COMMIT", error)) {
        rollback();
        return false;
    }
    store_ = nullptr;
    return true;
}

void AccountStore::Transaction::rollback()
{
    if (!store_)
        return;
    // Fails harmlessly when SQLite has already rolled back by itself.
    sqlite3_exec(store_->db_, "ROLLBACK", nullptr, nullptr, nullptr);
    store_ = nullptr;
}

AccountStore::Lookup AccountStore::find(std::string_view user_name, Account* account,
                                        std::string* error)
{
    Statement query(
        db_,
        (std::string("SELECT ") + kAccountColumns + " FROM accounts WHERE user_name = ?1").c_str());
    if (!query.ok())
        return (*error = message("cannot look up " + std::string(user_name)), Lookup::failed);
    query.bind(1, user_name);
    const int rc = query.step();
    if (rc == SQLITE_DONE)
        return Lookup::absent;
    if (rc != SQLITE_ROW)
        return (*error = message("cannot look up " + std::string(user_name)), Lookup::failed);
    if (account)
        *account = read_account(query);
    return Lookup::found;
}

bool AccountStore::insert(const Account& account, std::string* error)
{
    Statement insert(db_, (std::string("INSERT INTO accounts (") + kAccountColumns +
                           ") VALUES (?1, ?2, ?3, ?4, ?5, ?6)")
                              .c_str());
    if (!insert.ok())
        return (*error = message("cannot add " + account.user_name), false);
    insert.bind(1, account.user_name);
    insert.bind(2, account.password);
    insert.bind(3, account.nickname);
    insert.bind(4, account.email);
    insert.bind(5, account.country_code);
    insert.bind(6, account.created_at);
    const int rc = insert.step();
    if (rc == SQLITE_DONE)
        return true;
    if (rc == SQLITE_CONSTRAINT_UNIQUE)
        *error = "the account " + account.user_name + " exists";
    else
        *error = message("cannot add " + account.user_name);
    return false;
}

bool AccountStore::remove(std::string_view user_name, std::string* error)
{
    error->clear();
    Statement remove(db_, "DELETE FROM accounts WHERE user_name = ?1");
    if (!remove.ok())
        return (*error = message("cannot remove " + std::string(user_name)), false);
    remove.bind(1, user_name);
    if (remove.step() != SQLITE_DONE)
        return (*error = message("cannot remove " + std::string(user_name)), false);
    return sqlite3_changes(db_) > 0;
}

bool AccountStore::list(std::vector<Account>* accounts, std::string* error)
{
    accounts->clear();
    Statement query(
        db_,
        (std::string("SELECT ") + kAccountColumns + " FROM accounts ORDER BY user_name").c_str());
    if (!query.ok())
        return (*error = message("cannot list the accounts"), false);
    int rc;
    while ((rc = query.step()) == SQLITE_ROW)
        accounts->push_back(read_account(query));
    if (rc != SQLITE_DONE)
        return (*error = message("cannot list the accounts"), false);
    return true;
}

AccountStore::Lookup AccountStore::balance(std::string_view user_name, int64_t opening_cents,
                                           int64_t* cents, std::string* error)
{
    const auto failed = [&] {
        *error = message("cannot read the balance of " + std::string(user_name));
        return Lookup::failed;
    };
    Statement open(db_, "INSERT OR IGNORE INTO balances (account_id, cents)"
                        " SELECT id, ?2 FROM accounts WHERE user_name = ?1");
    if (!open.ok())
        return failed();
    open.bind(1, user_name);
    open.bind(2, opening_cents);
    if (open.step() != SQLITE_DONE)
        return failed();
    Statement query(db_, "SELECT b.cents FROM balances b JOIN accounts a ON a.id = b.account_id"
                         " WHERE a.user_name = ?1");
    if (!query.ok())
        return failed();
    query.bind(1, user_name);
    const int rc = query.step();
    if (rc == SQLITE_DONE)
        return Lookup::absent;
    if (rc != SQLITE_ROW)
        return failed();
    *cents = query.integer(0);
    return Lookup::found;
}

bool AccountStore::queue_message(const OutboxMessage& entry, std::string* error)
{
    Statement insert(db_, "INSERT INTO outbox (sender, recipient, text, invite, queued_at)"
                          " VALUES (?1, ?2, ?3, ?4, ?5)");
    if (!insert.ok())
        return (*error = message("cannot queue a message"), false);
    insert.bind(1, entry.sender);
    insert.bind(2, entry.recipient);
    insert.bind(3, entry.text);
    insert.bind(4, int64_t{entry.invite ? 1 : 0});
    insert.bind(5, entry.queued_at);
    if (insert.step() != SQLITE_DONE)
        return (*error = message("cannot queue a message"), false);
    return true;
}

bool AccountStore::count_queued_since(std::string_view sender, int64_t since, int64_t* count,
                                      std::string* error)
{
    Statement query(db_, "SELECT COUNT(*) FROM outbox WHERE sender = ?1 AND queued_at >= ?2");
    if (!query.ok())
        return (*error = message("cannot read the outbox"), false);
    query.bind(1, sender);
    query.bind(2, since);
    if (query.step() != SQLITE_ROW)
        return (*error = message("cannot read the outbox"), false);
    *count = query.integer(0);
    return true;
}

bool AccountStore::outbox(std::vector<OutboxMessage>* messages, std::string* error)
{
    messages->clear();
    Statement query(
        db_, "SELECT id, sender, recipient, text, invite, queued_at FROM outbox ORDER BY id");
    if (!query.ok())
        return (*error = message("cannot read the outbox"), false);
    int rc;
    while ((rc = query.step()) == SQLITE_ROW)
        messages->push_back(OutboxMessage{query.integer(0), query.text(1), query.text(2),
                                          query.text(3), query.integer(4) != 0, query.integer(5)});
    if (rc != SQLITE_DONE)
        return (*error = message("cannot read the outbox"), false);
    return true;
}

} // namespace vokar::operatord
