#include "sip/sip_stack.h"

namespace vokar {

SipListener::~SipListener() = default;
SipStackInterface::~SipStackInterface() = default;

} // namespace vokar
