#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace vokar::operatord {

// One subscriber of the operator. The user name is the mobile number (or
// another XMPP user name); the password is kept as given, because the XMPP
// server's DIGEST-MD5 needs it in plain.
struct Account {
    std::string user_name;
    std::string password;
    std::string nickname;
    std::string email;
    std::string country_code;
    int64_t created_at = 0; // seconds since the Unix epoch
};

// An SMS or an invitation the web service accepted, waiting for the
// operator's SMS gateway. Kept when the sender's account goes.
struct OutboxMessage {
    int64_t id = 0;        // assigned by the store, in order of arrival
    std::string sender;    // the sending account's user name
    std::string recipient; // digits
    std::string text;      // empty for an invitation
    bool invite = false;
    int64_t queued_at = 0; // seconds since the Unix epoch
};

// The operator's account database (SQLite, one file). The schema carries its
// version in `PRAGMA user_version`; opening a file brings it up to the
// latest version, and a file from a newer program is refused rather than
// misread. Several processes may use one file: writers take turns (each
// waits up to a few seconds for the other).
class AccountStore {
public:
    enum class Lookup { found, absent, failed };

    // Opens or creates the database; its file is readable by the owner only
    // (it holds passwords). nullptr with *error on failure.
    static std::unique_ptr<AccountStore> open(const std::string& path, std::string* error);
    ~AccountStore();
    AccountStore(const AccountStore&) = delete;
    AccountStore& operator=(const AccountStore&) = delete;

    static int latest_schema_version();
    int schema_version();

    // A write transaction: taken at once (other writers wait or fail), rolled
    // back unless committed.
    class Transaction {
    public:
        ~Transaction();
        Transaction(Transaction&& other) noexcept;
        Transaction& operator=(Transaction&&) = delete;
        bool active() const { return store_ != nullptr; }
        bool commit(std::string* error);
        void rollback();

    private:
        friend class AccountStore;
        explicit Transaction(AccountStore* store) : store_(store) {}
        AccountStore* store_;
    };
    // An inactive transaction with *error when the database stays busy.
    Transaction begin(std::string* error);

    Lookup find(std::string_view user_name, Account* account, std::string* error);
    // Fails (with "exists" in *error) when the user name is taken.
    bool insert(const Account& account, std::string* error);
    // True when a row was removed; false with *error empty when there was none.
    bool remove(std::string_view user_name, std::string* error);
    // Every account, by user name. False with *error on failure.
    bool list(std::vector<Account>* accounts, std::string* error);

    // The account's credit in cents. An account without a balance yet is
    // given `opening_cents` first; removing the account removes its balance.
    Lookup balance(std::string_view user_name, int64_t opening_cents, int64_t* cents,
                   std::string* error);
    // Appends a message to the outbox (its id is assigned here).
    bool queue_message(const OutboxMessage& message, std::string* error);
    // How many messages `sender` queued at `since` or later.
    bool count_queued_since(std::string_view sender, int64_t since, int64_t* count,
                            std::string* error);
    // The whole outbox, oldest first.
    bool outbox(std::vector<OutboxMessage>* messages, std::string* error);

    const std::string& path() const { return path_; }

private:
    AccountStore(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
    bool exec(const char* sql, std::string* error);
    bool migrate(std::string* error);
    std::string message(std::string_view what) const;

    sqlite3* db_;
    std::string path_;
};

} // namespace vokar::operatord
