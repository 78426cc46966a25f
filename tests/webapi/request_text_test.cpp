#include "webapi/web_request_text.h"

#include <gtest/gtest.h>

namespace vokar {
namespace {

// The auth values were computed with md5sum over the documented inputs.
const std::string kTail = "Host: www.vokar.test\r\nCookie: .\r\n\r\n";

struct RequestCase {
    const char* name;
    std::wstring username;
    std::string (*build)(const WebRequestTexts&);
    std::string expected;
};

void PrintTo(const RequestCase& c, std::ostream* os)
{
    *os << c.name;
}

class RequestTextTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestTextTest, BytesOnTheWire)
{
    const RequestCase& c = GetParam();
    const WebRequestTexts texts(platform::OperatorConfig{}, c.username, L"secret");
    EXPECT_EQ(c.build(texts), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RequestTextTest,
    ::testing::Values(
        RequestCase{"ServersStripOnePlus", L"+27821234567",
                    [](const WebRequestTexts& t) { return t.fetch_servers(); },
                    "GET /accounts/moservers.php?username=27821234567 HTTP/1.1\r\n" + kTail},
        RequestCase{"ServersWithoutPlus", L"27821234567",
                    [](const WebRequestTexts& t) { return t.fetch_servers(); },
                    "GET /accounts/moservers.php?username=27821234567 HTTP/1.1\r\n" + kTail},
        RequestCase{"PrefixSecondPlusStays", L"++27821234567",
                    [](const WebRequestTexts& t) { return t.fetch_dialing_prefix(); },
                    "GET /accounts/moprefix.php?username=+27821234567 HTTP/1.1\r\n" + kTail},
        RequestCase{
            "SmsInnerSpaceEncodedTrailingSpaceDropped", L"+27821234567",
            [](const WebRequestTexts& t) { return t.send_sms(L"+27831112222", L"hello world "); },
            "GET /accounts/mosms.php?msg=hello%20world&msisdn=27831112222"
            "&authuser=27821234567&auth=6a7b04938792cab7541f17e9c19f6188 HTTP/1.1\r\n" +
                kTail},
        RequestCase{"SmsTwoTrailingSpacesKeepOne", L"+27821234567",
                    [](const WebRequestTexts& t) { return t.send_sms(L"27831112222", L"a  "); },
                    "GET /accounts/mosms.php?msg=a%20&msisdn=27831112222"
                    "&authuser=27821234567&auth=40c5015b6868b747b0e16243e87a4c0e HTTP/1.1\r\n" +
                        kTail},
        RequestCase{"SmsPunctuationEncodedAuthOverRawText", L"+27821234567",
                    [](const WebRequestTexts& t) { return t.send_sms(L"27831112222", L"A-b.9_~"); },
                    "GET /accounts/mosms.php?msg=A%2Db%2E9%5F%7E&msisdn=27831112222"
                    "&authuser=27821234567&auth=81ddcdd4823a23504e8c35251385718c HTTP/1.1\r\n" +
                        kTail},
        RequestCase{"Invitation", L"+27821234567",
                    [](const WebRequestTexts& t) { return t.send_invitation(L"27831112222"); },
                    "GET /accounts/mosms.php?msg=&msisdn=27831112222&authuser=27821234567"
                    "&auth=4e8edd22512bca29faf314f695dec5ea&invite=1 HTTP/1.1\r\n" +
                        kTail},
        RequestCase{"InvitationSecondPlusStays", L"+27821234567",
                    [](const WebRequestTexts& t) { return t.send_invitation(L"++27831112222"); },
                    "GET /accounts/mosms.php?msg=&msisdn=+27831112222&authuser=27821234567"
                    "&auth=226d25229480af95b6d078e51ec532c3&invite=1 HTTP/1.1\r\n" +
                        kTail},
        RequestCase{"BalanceIsHttp10", L"+27821234567",
                    [](const WebRequestTexts& t) { return t.check_balance(); },
                    "GET /accounts/moaccount.php?authuser=27821234567"
                    "&auth=f989ef848e8149999dee62309e63b989 HTTP/1.0\r\n" +
                        kTail},
        RequestCase{"SignUpWithoutNicknameOrEmailEncodesPassword", L"+1",
                    [](const WebRequestTexts& t) {
                        return t.create_account(L"+27840000000", L"p w&d", L"", L"", L"27");
                    },
                    "GET /accounts/mosignup.php?auth=8bbf65631d5d18d293b7cef422b5de68"
                    "&authuser=27840000000&password=p%20w%26d&countryCode=27 HTTP/1.1\r\n" +
                        kTail},
        RequestCase{"SignUpEncodesNicknameEmailAndCountry", L"+1",
                    [](const WebRequestTexts& t) {
                        return t.create_account(L"27840000000", L"pw", L"Ann B", L"a.b@x.test",
                                                L"2&7");
                    },
                    "GET /accounts/mosignup.php?auth=cdd17341160dd972690dbe6062875d37"
                    "&authuser=27840000000&password=pw&nickname=Ann%20B&email=a%2Eb%40x%2Etest"
                    "&countryCode=2%267 HTTP/1.1\r\n" +
                        kTail}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WebRequestTextTest, HostAndAuthAddressesComeFromTheConfiguration)
{
    platform::OperatorConfig config;
    config.web_host_name = "web.example";
    config.sister_web_host_name = "sister.example";
    const std::string request = WebRequestTexts(config, L"1", L"2").check_balance();
    EXPECT_NE(request.find("&auth=" + web_auth({"http://sister.example/accounts/moaccount.php12"})),
              std::string::npos);
    EXPECT_NE(request.find("\r\nHost: web.example\r\n"), std::string::npos);
}

TEST(WebRequestTextTest, DialingPrefixSanitised)
{
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"00\r\n", L"00"},
        {L" +27-1.!@#$%^&*_=|\\/?'\";:><,~`", L"+271"},
        {L"\x01"
         L"0\x1f"
         L"9\t",
         L"09"},
        {L"(0)", L"(0)"},
        {L"", L""},
    };
    for (const auto& [payload, prefix] : cases)
        EXPECT_EQ(sanitize_dialing_prefix(payload), prefix);
}

} // namespace
} // namespace vokar
