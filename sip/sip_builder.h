#pragma once

#include <string_view>

#include "sip/sip_core.h"
#include "sip/sip_dialog.h"
#include "sip/sip_message.h"

namespace vokar {

inline constexpr std::string_view kSipUserAgent = "Dozi Dozevir Avurur Ure rovov v2.0b";

// The reason phrases the user agent answers with, spelled as its peers know
// them.
inline constexpr std::string_view kReasonTrying = "Trying";
inline constexpr std::string_view kReasonRinging = "Ringing";
inline constexpr std::string_view kReasonCallAccepted = "OK - Call excepted";
inline constexpr std::string_view kReasonBusyHere = "Busy Here";
inline constexpr std::string_view kReasonCallTerminated = "OK - Call terminated on this end";
inline constexpr std::string_view kReasonNotifyInDialog = "OK - notify recieved";
inline constexpr std::string_view kReasonNotifyOutOfDialog = "Ok";
inline constexpr std::string_view kReasonMessageReceived = "OK - message sent";
inline constexpr std::string_view kReasonOptions = "OK - Options";

// A request outside any dialog (REGISTER, INVITE). An empty target_user
// addresses the account itself (username@domain). contact_expires -1 leaves
// the Contact without expires.
SipMessage new_request(const SipCore& core, int cseq, std::string_view method,
                       std::string_view target_user, std::string_view target_host,
                       int contact_expires);

// A request inside `dialog` (ACK, CANCEL, BYE, or a re-send with the
// credentials of every challenge the dialog stores).
SipMessage dialog_request(const SipCore& core, const SipDialog& dialog, int cseq,
                          std::string_view method, int contact_expires);

// A response to the last request received in `dialog`.
SipMessage new_response(const SipCore& core, const SipDialog& dialog, std::string_view reason,
                        int status);

// The From / To / Contact value: "display"<sip:user@host:port>;tag=..;expires=..
std::string format_address(const SipAddress& address);

} // namespace vokar
