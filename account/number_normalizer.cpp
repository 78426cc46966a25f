#include "account/number_normalizer.h"

namespace vokar {
namespace {

constexpr std::wstring_view kPunctuation = L"() -!#$%^&*=|\\/?'\";:><,~`\n\r";

bool prefix_known(std::wstring_view prefix)
{
    return !prefix.empty() && prefix != L"-1";
}

} // namespace

std::wstring normalize_number(std::wstring_view typed, std::wstring_view dialing_prefix,
                              const std::function<void()>& request_prefix)
{
    std::wstring number;
    number.reserve(typed.size());
    for (wchar_t c : typed) {
        if (kPunctuation.find(c) == std::wstring_view::npos) {
            number.push_back(c);
        }
    }
    if (!number.empty() && number.front() == L'+') {
        number.erase(0, 1);
    }

    if (!prefix_known(dialing_prefix)) {
        if (request_prefix) {
            request_prefix();
        }
        return number;
    }

    if (number.empty() || number.front() != L'0') {
        return number;
    }
    // "09..." and the international access code "00" are both dropped whole;
    // any other leading zero is the national trunk prefix.
    if (number.size() >= 2 && (number[1] == L'9' || number[1] == L'0')) {
        return number.substr(2);
    }
    return std::wstring(dialing_prefix) + number.substr(1);
}

} // namespace vokar
