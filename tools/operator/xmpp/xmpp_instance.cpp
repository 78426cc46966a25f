#include "tools/operator/xmpp/xmpp_instance.h"

#include <filesystem>

namespace vokar::operatord {

bool valid_service_domain(std::string_view domain)
{
    if (domain.empty() || domain.size() > 253)
        return false;
    for (char c : domain)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-'))
            return false;
    return true;
}

std::optional<XmppInstance> XmppInstance::make(const platform::OperatorConfig& config,
                                               const std::string& directory, std::string* error)
{
    if (directory.empty()) {
        *error = "no instance directory given";
        return std::nullopt;
    }
    if (!valid_service_domain(config.service_domain)) {
        *error = "service_domain '" + config.service_domain + "' must be a lower-case domain name";
        return std::nullopt;
    }
    std::error_code ec;
    auto absolute = std::filesystem::absolute(directory, ec).lexically_normal();
    if (ec) {
        *error = "cannot resolve " + directory + ": " + ec.message();
        return std::nullopt;
    }
    XmppInstance instance;
    instance.directory = absolute.string();
    while (instance.directory.size() > 1 && instance.directory.back() == '/')
        instance.directory.pop_back();
    instance.domain = config.service_domain;
    std::filesystem::path db = config.get("account_db");
    if (db.empty())
        db = "accounts.db";
    instance.account_db = (db.is_absolute() ? db : absolute / db).lexically_normal().string();
    return instance;
}

} // namespace vokar::operatord
