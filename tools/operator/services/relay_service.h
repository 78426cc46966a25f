#pragma once

#include <memory>

#include "tools/operator/services/service.h"

namespace vokar::operatord {

// The media relay on relay_host:relay_port (UDP): pairs the two source
// addresses whose voice packets carry the same SSRC and forwards each packet
// to the other. Keys and limits in the README's Relay section.
std::unique_ptr<Service> make_relay_service(const ServiceContext& context);

} // namespace vokar::operatord
