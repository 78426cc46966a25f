#pragma once

#include <memory>

#include "tools/operator/services/service.h"

namespace vokar::operatord {

// Echo service for the client's transport probes, on echo_host.
// echo_udp (echo_udp_port): every datagram goes back unchanged to its sender.
// echo_tcp (echo_tcp_port): every byte received is written back.
std::unique_ptr<Service> make_echo_udp_service(const ServiceContext& context);
std::unique_ptr<Service> make_echo_tcp_service(const ServiceContext& context);

} // namespace vokar::operatord
