#include "base/strings.h"

#include <gtest/gtest.h>

namespace vokar {
namespace {

TEST(LoadResourceString, QuotedTextsByIdentifier)
{
    const std::pair<StringId, const wchar_t*> samples[] = {
        {StringId::APP_NAME, L"Vokar"},
        {StringId::LOGIN_TITLE, L"Vokar - Login"},
        {StringId::ERROR_NO_CONNECTION, L"No connection is available"},
        {StringId::LOGIN_ERROR_INVALID_USERNAME, L"Please enter a valid username"},
        {StringId::ERROR_TITLE, L"Vokar - Error"},
        {StringId::PROGRESS_LOGGING_IN, L"Logging in"},
        {StringId::BEARER_WIFI, L"WiFi"},
        {StringId::IMPORT_IM_ACCOUNTS_TITLE, L"Instant Messaging"},
    };
    for (const auto& [id, text] : samples)
        EXPECT_EQ(LoadResourceString(id), text) << static_cast<int>(id);
    EXPECT_EQ(LoadResourceString(2167), L"WiFi");
    EXPECT_EQ(LoadResourceString(2168), L"ActiveSync");
    EXPECT_EQ(LoadResourceString(2169), L"Data Connection");
    EXPECT_EQ(LoadResourceString(2171), L"N/A");
    EXPECT_EQ(LoadResourceString(2190),
              L"Your connection is restricted, as a result some services may be unreliable");
    EXPECT_EQ(LoadResourceString(2200),
              L"A new version of Vokar is available, do you wish to upgrade now?");
}

TEST(LoadResourceString, UnknownIdentifierGivesEmptyText)
{
    EXPECT_EQ(LoadResourceString(1), L"");
    EXPECT_EQ(LoadResourceString(2011), L"");
    EXPECT_EQ(LoadResourceString(-1), L"");
}

} // namespace
} // namespace vokar
