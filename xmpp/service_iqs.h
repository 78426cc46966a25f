#pragma once

#include <string>

#include "xmpp/session_context.h"

namespace vokar {

// The service's own iqs: Hollers and the version check made at every login.
class ServiceIqs {
public:
    ServiceIqs(SessionContext& session, std::string os, std::string version);

    void send_holler(const std::string& to);
    void retrieve_hollers();
    void set_holler_allowed(bool allowed);
    void send_version_check();

private:
    SessionContext& session_;
    const std::string os_;
    const std::string version_;
};

} // namespace vokar
