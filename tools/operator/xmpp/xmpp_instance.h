#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/operator_config.h"

namespace vokar::operatord {

// One instance of the operator's XMPP service: a directory holding its
// configuration, user database and data (laid out by the start script
// xmpp/vokar-xmpp), and the domain it serves. The account tools find the
// server's user database here.
struct XmppInstance {
    // Cyrus SASL application name: the server reads sasl/<name>.conf, and
    // users are written to the sasldb under it.
    static constexpr std::string_view kApplication = "vokar";

    std::string directory;  // absolute
    std::string domain;     // service_domain; also the users' SASL realm
    std::string account_db; // the account store (key account_db)

    std::string sasldb_path() const { return directory + "/sasldb2"; }
    std::string sasl_conf_dir() const { return directory + "/sasl"; }

    // The instance in `directory` as `config` describes it. account_db
    // defaults to DIRECTORY/accounts.db; a relative value is taken inside the
    // directory. nullopt with *error when service_domain is not a lower-case
    // domain name (the server would never match it to a client's stream).
    static std::optional<XmppInstance> make(const platform::OperatorConfig& config,
                                            const std::string& directory, std::string* error);
};

// A domain the start script and the server accept: lower-case letters,
// digits, '.' and '-', 1 to 253 characters.
bool valid_service_domain(std::string_view domain);

} // namespace vokar::operatord
