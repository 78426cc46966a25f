#include "platform/address_book.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace vokar::platform {
namespace {

std::wstring numbers_of(const AddressBookContact& contact)
{
    std::wstring text;
    for (const auto& n : contact.numbers)
        text += static_cast<wchar_t>(n.type) + (L":" + n.number) + L" ";
    return text;
}

TEST(VcardReader, ReadsVersionThreeAndFourCards)
{
    const std::string text = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Doe;Jane;;;\r\nFN:Jane Doe\r\n"
                             "TEL;TYPE=WORK,VOICE:+44 20 1234\r\nTEL;TYPE=CELL:0712\r\n"
                             " 345678\r\nTEL;TYPE=HOME,FAX:999\r\nitem1.TEL;TYPE=car:555\r\n"
                             "END:VCARD\r\n"
                             "BEGIN:VCARD\nVERSION:4.0\nFN:Smith\\, John\n"
                             "TEL;VALUE=uri;TYPE=\"home,voice\":tel:+1-555-0100\n"
                             "TEL;TYPE=home:111\nTEL;TYPE=home:222\nTEL:333\nTEL;CELL:444\n"
                             "END:VCARD\n"
                             "BEGIN:VCARD\nN:Roe;Rick;;;\nEND:VCARD\n"
                             "BEGIN:VCARD\nFN:Unclosed\n";
    const auto contacts = parse_vcards(text);
    ASSERT_EQ(contacts.size(), 3u);
    EXPECT_EQ(contacts[0].name, L"Jane Doe");
    EXPECT_EQ(numbers_of(contacts[0]), L"m:0712345678 w:+44 20 1234 c:555 ");
    EXPECT_EQ(contacts[1].name, L"Smith, John");
    // Two home numbers at most, one mobile; untyped counts as mobile.
    EXPECT_EQ(numbers_of(contacts[1]), L"m:333 h:+1-555-0100 h:111 ");
    EXPECT_EQ(contacts[2].name, L"Rick Roe");
    EXPECT_TRUE(contacts[2].numbers.empty());
}

TEST(VcardReader, AddedContactIsAppendedAndReadBack)
{
    const std::string path =
        ::testing::TempDir() + "vokar_contacts_" + std::to_string(::getpid()) + ".vcf";
    std::ofstream(path) << "BEGIN:VCARD\nFN:Ann\nTEL:1\nEND:VCARD";
    auto book = make_vcard_address_book(path);
    ASSERT_TRUE(book->open());
    ASSERT_TRUE(book->add_contact(L"Vokar; Holler", L"+4470"));
    auto reread = make_vcard_address_book(path);
    ASSERT_TRUE(reread->open());
    const auto contacts = reread->contacts();
    ASSERT_EQ(contacts.size(), 2u);
    EXPECT_EQ(contacts[0].name, L"Ann");
    EXPECT_EQ(contacts[1].name, L"Vokar; Holler");
    EXPECT_EQ(numbers_of(contacts[1]), L"m:+4470 ");
    std::filesystem::remove(path);

    auto missing = make_vcard_address_book(path);
    EXPECT_FALSE(missing->open());
    EXPECT_FALSE(missing->add_contact(L"X", L"1"));
    EXPECT_FALSE(std::filesystem::exists(path));
}

} // namespace
} // namespace vokar::platform
