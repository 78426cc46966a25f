#include "tools/operator/accounts/account_manager.h"

#include <ctime>
#include <filesystem>
#include <tuple>

namespace vokar::operatord {
namespace {

using Outcome = AccountResult::Outcome;

AccountResult fail(Outcome outcome, std::string message)
{
    return AccountResult{outcome, std::move(message)};
}

bool has_control_character(std::string_view text)
{
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f)
            return true;
    return false;
}

bool valid_user_name(std::string_view name)
{
    if (name.empty() || name.size() > 64)
        return false;
    for (char c : name) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alnum && c != '.' && c != '_' && c != '-')
            return false;
    }
    const char first = name.front();
    return first != '.' && first != '_' && first != '-';
}

std::string text_problem(std::string_view field, std::string_view value, size_t limit)
{
    if (value.size() > limit)
        return std::string(field) + " is longer than " + std::to_string(limit) + " bytes";
    if (has_control_character(value))
        return std::string(field) + " holds a control character";
    return {};
}

} // namespace

std::string account_problem(const NewAccount& account)
{
    if (!valid_user_name(account.user_name))
        return "the user name '" + account.user_name +
               "' must be 1 to 64 of a-z 0-9 . _ - starting with a letter or digit";
    if (account.password.empty())
        return "the password is empty";
    for (const auto& [field, value, limit] :
         {std::tuple<std::string_view, std::string_view, size_t>{"the password", account.password,
                                                                 256},
          {"the nickname", account.nickname, 64},
          {"the e-mail address", account.email, 254},
          {"the country code", account.country_code, 8}}) {
        if (auto problem = text_problem(field, value, limit); !problem.empty())
            return problem;
    }
    return {};
}

std::unique_ptr<AccountManager> AccountManager::open(const XmppInstance& instance, Options options,
                                                     std::string* error)
{
    namespace fs = std::filesystem;
    for (const fs::path& directory :
         {fs::path(instance.directory), fs::path(instance.account_db).parent_path()}) {
        std::error_code ec;
        if (fs::create_directories(directory, ec))
            fs::permissions(directory, fs::perms::owner_all, ec);
        if (ec) {
            *error = "cannot create " + directory.string() + ": " + ec.message();
            return nullptr;
        }
    }
    auto store = AccountStore::open(instance.account_db, error);
    if (!store)
        return nullptr;
    if (!options.clock)
        options.clock = [] { return static_cast<int64_t>(std::time(nullptr)); };
    SaslUserDb users(instance, options.tools);
    return std::unique_ptr<AccountManager>(
        new AccountManager(std::move(store), std::move(users), std::move(options)));
}

AccountManager::AccountManager(std::unique_ptr<AccountStore> store, SaslUserDb users,
                               Options options)
    : store_(std::move(store)), users_(std::move(users)), options_(std::move(options))
{
}

AccountResult AccountManager::create(const NewAccount& account)
{
    if (auto problem = account_problem(account); !problem.empty())
        return fail(Outcome::invalid, problem);
    const std::string& user = account.user_name;
    std::string error;
    auto transaction = store_->begin(&error);
    if (!transaction.active())
        return fail(Outcome::failed, error);

    switch (store_->find(user, nullptr, &error)) {
    case AccountStore::Lookup::found:
        return fail(Outcome::exists, "the account " + user + " exists");
    case AccountStore::Lookup::failed:
        return fail(Outcome::failed, error);
    case AccountStore::Lookup::absent:
        break;
    }
    // A user the server has without an account here was made by someone
    // else; taking it over would change its password, and undoing a failed
    // creation would delete it.
    switch (users_.contains(user, &error)) {
    case SaslUserDb::Presence::present:
        return fail(Outcome::exists, "the XMPP server already has a user " + user +
                                         " that is not in the account store");
    case SaslUserDb::Presence::failed:
        return fail(Outcome::failed, error);
    case SaslUserDb::Presence::absent:
        break;
    }

    const Account row{user,          account.password,     account.nickname,
                      account.email, account.country_code, options_.clock()};
    if (!store_->insert(row, &error))
        return fail(Outcome::failed, error);
    if (!users_.set_password(user, account.password, &error)) {
        // The tool may have written the user before it failed.
        std::string undo_error;
        if (!users_.remove(user, &undo_error))
            error += "; removing it again failed too: " + undo_error;
        return fail(Outcome::failed, error);
    }
    if (!transaction.commit(&error)) {
        std::string undo_error;
        if (!users_.remove(user, &undo_error))
            error += "; the XMPP user is left behind: " + undo_error;
        return fail(Outcome::failed, error);
    }
    return {};
}

AccountResult AccountManager::remove(std::string_view user_name)
{
    const std::string user(user_name);
    std::string error;
    auto transaction = store_->begin(&error);
    if (!transaction.active())
        return fail(Outcome::failed, error);

    Account stored;
    const auto lookup = store_->find(user, &stored, &error);
    if (lookup == AccountStore::Lookup::failed)
        return fail(Outcome::failed, error);
    // A name that could never have been created is not looked up in the
    // server's database (nor passed to its tools).
    const auto presence =
        valid_user_name(user) ? users_.contains(user, &error) : SaslUserDb::Presence::absent;
    if (presence == SaslUserDb::Presence::failed)
        return fail(Outcome::failed, error);
    if (lookup == AccountStore::Lookup::absent && presence == SaslUserDb::Presence::absent)
        return fail(Outcome::not_found, "there is no account " + user);

    if (presence == SaslUserDb::Presence::present && !users_.remove(user, &error))
        return fail(Outcome::failed, error);
    const bool in_store = lookup == AccountStore::Lookup::found;
    if (in_store && (!store_->remove(user, &error) || !transaction.commit(&error))) {
        // The row stays, so the server must keep the user too: put it back
        // with the stored password.
        if (presence == SaslUserDb::Presence::present) {
            std::string undo_error;
            if (!users_.set_password(user, stored.password, &undo_error))
                error += "; the XMPP user could not be restored: " + undo_error;
        }
        return fail(Outcome::failed, error);
    }
    return {};
}

} // namespace vokar::operatord
