#include "account/country_table.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <set>
#include <string>

namespace vokar {
namespace {

std::wstring code_of(std::wstring_view name)
{
    for (size_t i = 0; i < CountryTable::count(); ++i) {
        if (CountryTable::name(i) == name) {
            return std::wstring(CountryTable::code(i));
        }
    }
    return L"<missing>";
}

std::vector<std::wstring> filtered_names(std::wstring_view typed)
{
    std::vector<std::wstring> names;
    for (size_t i : CountryTable::filter(typed)) {
        names.emplace_back(CountryTable::name(i));
    }
    return names;
}

TEST(CountryTableTest, RowsAreWellFormedAndOrdered)
{
    ASSERT_EQ(CountryTable::count(), 244u);
    EXPECT_EQ(CountryTable::name(0), L"Afghanistan");
    EXPECT_EQ(CountryTable::name(243), L"Zimbabwe");

    std::set<std::wstring_view> names;
    for (size_t i = 0; i < CountryTable::count(); ++i) {
        std::wstring_view code = CountryTable::code(i);
        EXPECT_FALSE(code.empty()) << i;
        for (wchar_t c : code) {
            EXPECT_TRUE(c >= L'0' && c <= L'9') << i;
        }
        EXPECT_TRUE(names.insert(CountryTable::name(i)).second) << i;
    }

    // Alphabetical, except that a name extending the next one comes first
    // ("Peru-Rural" before "Peru").
    auto lower = [](std::wstring_view s) {
        std::wstring out;
        for (wchar_t c : s) {
            out.push_back(static_cast<wchar_t>(std::towlower(c)));
        }
        return out;
    };
    for (size_t i = 1; i < CountryTable::count(); ++i) {
        std::wstring prev = lower(CountryTable::name(i - 1));
        std::wstring cur = lower(CountryTable::name(i));
        EXPECT_TRUE(prev < cur || prev.starts_with(cur)) << i;
    }
}

TEST(CountryTableTest, Codes)
{
    const std::pair<std::wstring_view, std::wstring_view> cases[] = {
        // Rows carrying more than, or other than, the plain country code.
        {L"Canary Islands", L"34928"},
        {L"Chatham Islands", L"643305"},
        {L"Christmas Island", L"6189164"},
        {L"Cocos Island", L"6189162"},
        {L"Cyprus North", L"90392"},
        {L"Guantanamo Bay", L"5399"},
        {L"Kazakhstan", L"73"},
        {L"Mayotte", L"2692"},
        {L"Midway Islands", L"6998"},
        {L"Norfolk Islands", L"6723"},
        {L"Peru-Rural", L"5118"},
        {L"Portugal", L"3517"},
        {L"Slovakia-Bratislava", L"4212"},
        {L"Kosovo", L"381"},
        {L"Serbia", L"381"},
        {L"Congo - DRC", L"243"},
        {L"Zaire", L"243"},
        // North American numbering plan.
        {L"USA", L"1"},
        {L"Canada", L"1"},
        {L"Jamaica", L"1876"},
        {L"Bermuda", L"1441"},
        {L"Puerto Rico", L"1787"},
        {L"Virgin Islands USA", L"1340"},
        // Plain assignments, including neighbours of the special rows.
        {L"Russia", L"7"},
        {L"Peru", L"51"},
        {L"Slovakia", L"421"},
        {L"Netherlands Antilles", L"599"},
        {L"Netherlands", L"31"},
        {L"Cyprus South", L"357"},
        {L"Congo", L"242"},
        {L"Zimbabwe", L"263"},
    };
    for (const auto& [name, code] : cases) {
        EXPECT_EQ(code_of(name), code) << std::string(name.begin(), name.end());
    }
}

TEST(CountryTableTest, Filter)
{
    using Names = std::vector<std::wstring>;
    EXPECT_EQ(filtered_names(L"sou"), Names{L"South Africa"});
    EXPECT_EQ(filtered_names(L"co"), (Names{L"Cocos Island", L"Colombia", L"Comoros", L"Congo",
                                            L"Congo - DRC", L"Cook Islands", L"Costa Rica"}));
    EXPECT_EQ(filtered_names(L"congo "), Names{L"Congo - DRC"});
    EXPECT_EQ(filtered_names(L"peru"), (Names{L"Peru-Rural", L"Peru"}));
    EXPECT_EQ(filtered_names(L"st. "), (Names{L"St. Helena", L"St. Kitts & Nevis", L"St. Lucia",
                                              L"St. Pierre", L"St. Vincents"}));
    EXPECT_EQ(filtered_names(L"uk"), (Names{L"UK", L"Ukraine"}));
    // Typed capitals match too: a keyboard types "USA" as often as "usa".
    EXPECT_EQ(filtered_names(L"USA"), Names{L"USA"});
    EXPECT_EQ(filtered_names(L"SoU"), Names{L"South Africa"});
    EXPECT_TRUE(filtered_names(L"afghanistans").empty());
    EXPECT_TRUE(filtered_names(L"xyz").empty());

    std::vector<size_t> all = CountryTable::filter(L"");
    ASSERT_EQ(all.size(), CountryTable::count());
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i], i);
    }
}

} // namespace
} // namespace vokar
