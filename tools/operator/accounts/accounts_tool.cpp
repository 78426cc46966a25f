#include "tools/operator/accounts/accounts_tool.h"

#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/operator_config.h"
#include "tools/operator/accounts/account_manager.h"

namespace vokar::operatord {
namespace {

constexpr const char* kProgram = "vokar-accounts";
constexpr size_t kMaxPasswordLine = 4096;

int complain(const std::string& message, int status)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return status;
}

void print_usage(FILE* to)
{
    std::fprintf(to,
                 "usage: %s [--config FILE] --dir DIR COMMAND\n"
                 "commands:\n"
                 "  create USER PASSWORD [--nickname N] [--email E] [--country C]\n"
                 "      PASSWORD '-' reads it from the first line of stdin\n"
                 "  delete USER\n"
                 "  list   one account per line: user, nickname, e-mail, country code,\n"
                 "         created (UTC), separated by tabs\n"
                 "DIR is the XMPP service's instance directory (as given to vokar-xmpp);\n"
                 "FILE defaults to $VOKAR_OPERATOR_CONF, else the built-in values.\n",
                 kProgram);
}

std::string utc_time(int64_t seconds)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm parts{};
    char text[32] = "?";
    if (::gmtime_r(&t, &parts))
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

bool read_password_line(std::string* password)
{
    password->clear();
    int c;
    while ((c = std::getchar()) != EOF && c != '\n') {
        if (password->size() == kMaxPasswordLine)
            return false;
        password->push_back(static_cast<char>(c));
    }
    if (!password->empty() && password->back() == '\r')
        password->pop_back();
    return true;
}

int exit_status(const AccountResult& result)
{
    switch (result.outcome) {
    case AccountResult::Outcome::done:
        return 0;
    case AccountResult::Outcome::invalid:
        return 2;
    case AccountResult::Outcome::exists:
    case AccountResult::Outcome::not_found:
        return 3;
    case AccountResult::Outcome::failed:
        break;
    }
    return 1;
}

} // namespace

int run_accounts_tool(int argc, char** argv)
{
    std::string config_path;
    std::string directory;
    NewAccount account;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string* target = arg == "--config"     ? &config_path
                              : arg == "--dir"      ? &directory
                              : arg == "--nickname" ? &account.nickname
                              : arg == "--email"    ? &account.email
                              : arg == "--country"  ? &account.country_code
                                                    : nullptr;
        if (target) {
            if (i + 1 >= argc)
                return complain(std::string(arg) + " needs a value", 2);
            *target = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            print_usage(stdout);
            return 0;
        } else if (arg.starts_with("--")) {
            print_usage(stderr);
            return complain("unknown option '" + std::string(arg) + "'", 2);
        } else {
            words.emplace_back(arg);
        }
    }
    const std::string command = words.empty() ? std::string() : words[0];
    const size_t expected = command == "create" ? 3 : command == "delete" ? 2 : 1;
    if (directory.empty() || words.empty() ||
        (command != "create" && command != "delete" && command != "list") ||
        words.size() != expected) {
        print_usage(stderr);
        return 2;
    }
    if (command != "create" &&
        (!account.nickname.empty() || !account.email.empty() || !account.country_code.empty()))
        return complain("--nickname, --email and --country belong to create", 2);

    std::string error;
    const auto config = config_path.empty()
                            ? platform::OperatorConfig::from_environment(&error)
                            : platform::OperatorConfig::load_file(config_path, &error);
    if (!config)
        return complain(error, 2);
    const auto instance = XmppInstance::make(*config, directory, &error);
    if (!instance)
        return complain(error, 2);
    auto manager = AccountManager::open(*instance, &error);
    if (!manager)
        return complain(error, 1);

    if (command == "list") {
        std::vector<Account> accounts;
        if (!manager->store().list(&accounts, &error))
            return complain(error, 1);
        for (const auto& a : accounts)
            std::cout << a.user_name << '\t' << a.nickname << '\t' << a.email << '\t'
                      << a.country_code << '\t' << utc_time(a.created_at) << '\n';
        std::cout.flush();
        return std::cout ? 0 : complain("cannot write the list", 1);
    }
    AccountResult result;
    if (command == "delete") {
        result = manager->remove(words[1]);
    } else {
        account.user_name = words[1];
        account.password = words[2];
        if (account.password == "-" && !read_password_line(&account.password))
            return complain("the password line on stdin is too long", 2);
        result = manager->create(account);
    }
    if (!result)
        return complain(result.message, exit_status(result));
    return 0;
}

} // namespace vokar::operatord
