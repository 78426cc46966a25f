#pragma once

#include <memory>

#include "tools/operator/services/service.h"

namespace vokar::operatord {

// The datagram front of the operator's SIP server. It listens on
// sip_host:sip_port, undoes the client's scramble on each datagram and passes
// it to the SIP server (sip_server_host:sip_server_port) from an upstream
// socket of that client's own; the server's datagrams on that socket go back
// to the client scrambled. The server thus sees each client at a distinct
// address and reaches it back through the front. A client's one-blank
// keep-alive refreshes its mapping and is not passed on. Mappings are bounded
// by the connection limits and end after the idle time-out.
std::unique_ptr<Service> make_sip_front_service(const ServiceContext& context);

} // namespace vokar::operatord
