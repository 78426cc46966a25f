#pragma once

#include <memory>

#include "tools/operator/services/service.h"

namespace vokar::operatord {

// The account web service on web_host:web_port: one HTTP/1.0 or 1.1 GET per
// connection, answered (AccountPages) and closed. A head over 8 KiB, or one
// not complete within web_request_timeout_ms, closes the connection
// unanswered. The pages use the account store and XMPP user database of the
// instance in xmpp_dir, on a thread of their own: a sign-up runs the
// server's user tool, and the loop must not wait for it.
std::unique_ptr<Service> make_web_service(const ServiceContext& context);

} // namespace vokar::operatord
