#include "tools/operator/accounts/accounts_tool.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
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
                 "       %s --config FILE new-salt\n"
                 "commands:\n"
                 "  create USER PASSWORD [--nickname N] [--email E] [--country C]\n"
                 "      PASSWORD '-' reads it from the first line of stdin\n"
                 "  delete USER\n"
                 "  list   one account per line: user, nickname, e-mail, country code,\n"
                 "         created (UTC), separated by tabs\n"
                 "DIR is the XMPP service's instance directory (as given to vokar-xmpp);\n"
                 "  new-salt  writes a random signup_salt into FILE (made if missing),\n"
                 "         keeping its other lines; clients read the same file\n"
                 "FILE defaults to $VOKAR_OPERATOR_CONF, else the built-in values.\n",
                 kProgram, kProgram);
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

// 16 letters and digits from the system's random source.
std::string random_salt()
{
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    constexpr unsigned kLetters = sizeof kAlphabet - 1;
    std::random_device source;
    std::string salt;
    while (salt.size() < 16) {
        const unsigned value = source() & 0xff;
        if (value < 256 / kLetters * kLetters) // no bias towards the first letters
            salt += kAlphabet[value % kLetters];
    }
    return salt;
}

// Replaces the signup_salt line of the operator.conf at `path` (or adds
// one), keeping every other line and the file's mode; the file is replaced
// whole, so a reader never sees half of it.
int write_new_salt(const std::string& path)
{
    std::string text;
    struct stat info {};
    const bool exists = ::stat(path.c_str(), &info) == 0;
    if (exists) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        if (!in)
            return complain("cannot read " + path, 1);
        text = content.str();
    }
    std::string kept;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto key_end = line.find_first_of(" \t=");
        if (line.substr(0, key_end) != "signup_salt")
            kept += line + "\n";
    }
    kept += "signup_salt = " + random_salt() + "\n";
    std::string error;
    if (!platform::OperatorConfig::parse(kept, path, &error))
        return complain(error, 2);

    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << kept;
        out.flush();
        if (!out)
            return complain("cannot write " + temporary, 1);
    }
    ::chmod(temporary.c_str(), exists ? (info.st_mode & 07777) : 0644);
    std::error_code failure;
    std::filesystem::rename(temporary, path, failure);
    if (failure) {
        std::filesystem::remove(temporary, failure);
        return complain("cannot replace " + path, 1);
    }
    return 0;
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
    if (command == "new-salt") {
        if (config_path.empty() || !directory.empty() || words.size() != 1) {
            print_usage(stderr);
            return 2;
        }
        return write_new_salt(config_path);
    }
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
