#pragma once

#include <memory>

#include "tools/operator/services/service.h"

namespace vokar::operatord {

// The tunnel service on tunnel_host:tunnel_port: answers a client's CONNECT
// request, then relays between its frames and a UDP or TCP target, plus the
// UDP channels the media path announces. Relay sockets are bound on
// tunnel_host. The protocol is described in tools/operator/README.md.
std::unique_ptr<Service> make_tunnel_service(const ServiceContext& context);

} // namespace vokar::operatord
