#include "sip/sip_core.h"

#include <algorithm>

namespace vokar {

void SipCore::add_codec(int payload_type)
{
    const auto slot = std::find(payloads.begin(), payloads.end(), -1);
    if (slot != payloads.end())
        *slot = payload_type;
}

} // namespace vokar
