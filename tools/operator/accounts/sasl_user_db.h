#pragma once

#include <chrono>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "tools/operator/process/subprocess.h"

#include "tools/operator/xmpp/xmpp_instance.h"

namespace vokar::operatord {

// The XMPP server's users: the Cyrus sasldb of an instance, changed through
// Cyrus's own tools (saslpasswd2, sasldblistusers2), run without a shell.
// A user is USER@DOMAIN with its password in plain, which DIGEST-MD5 needs.
class SaslUserDb {
public:
    enum class Presence { present, absent, failed };

    struct Tools {
        std::string saslpasswd2 = "saslpasswd2";
        std::string sasldblistusers2 = "sasldblistusers2";
        std::chrono::milliseconds timeout{10000};
    };

    explicit SaslUserDb(const XmppInstance& instance) : SaslUserDb(instance, Tools{}) {}
    SaslUserDb(const XmppInstance& instance, Tools tools);

    // Sets the user's password, creating the user when new. The password goes
    // through a pipe, never on a command line.
    bool set_password(std::string_view user, std::string_view password, std::string* error);
    // Removes the user; removing one that is not there succeeds.
    bool remove(std::string_view user, std::string* error);
    Presence contains(std::string_view user, std::string* error);

    const std::string& path() const { return path_; }

private:
    ProgramRun tool_run() const;
    std::vector<std::string> saslpasswd2(std::initializer_list<const char*> flags,
                                         std::string_view user) const;

    std::string path_;
    std::string realm_;
    std::string conf_dir_;
    Tools tools_;
};

} // namespace vokar::operatord
