#pragma once

#include <string_view>

namespace vokar::web_texts {

// Texts of the web requests that have no entry in the string table yet.
// "Creating account" and "Account creation failed" come from the table.
inline constexpr std::wstring_view kSendingMessage = L"Sending message";
inline constexpr std::wstring_view kMessageSent = L"Message sent";
inline constexpr std::wstring_view kServiceUnavailable = L"Service unavailable at present";
inline constexpr std::wstring_view kCheckingBalance = L"Checking balance";
inline constexpr std::wstring_view kSendingInvite = L"Sending invite";
inline constexpr std::wstring_view kInviteSent = L"Invite sent";

} // namespace vokar::web_texts
