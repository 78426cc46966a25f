#include "account/device_contacts.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace vokar {
namespace {

using platform::AddressBookContact;

class FakeAddressBook final : public platform::AddressBook {
public:
    bool open() override { return opens; }
    std::vector<AddressBookContact> contacts() override { return book; }
    bool add_contact(const std::wstring& name, const std::wstring& number) override
    {
        added.push_back(name + L"=" + number);
        return true;
    }
    std::vector<AddressBookContact> sim_entries() override { return sim; }

    bool opens = true;
    std::vector<AddressBookContact> book;
    std::vector<AddressBookContact> sim;
    std::vector<std::wstring> added;
};

TEST(DeviceContacts, IndexesTheLastSevenCharactersOfEveryNumber)
{
    auto book = std::make_unique<FakeAddressBook>();
    book->book = {{L"bob", {{L"07700900123", 'm'}, {L"555", 'h'}}},
                  {L"Alice", {{L"+447700900123", 'm'}}},
                  {L"Vokar Holler", {{L"+4400", 'm'}}}};
    book->sim = {{L"Carol", {{L"12345678", 's'}}}, {L"Nobody", {}}};
    DeviceContacts contacts(std::move(book), L"+4400");
    EXPECT_FALSE(contacts.ready());
    EXPECT_EQ(contacts.name_for(L"07700900123"), L"07700900123");
    EXPECT_TRUE(contacts.contacts().empty());
    contacts.load();
    ASSERT_TRUE(contacts.ready());

    // National and international forms share a key; the later contact wins.
    EXPECT_EQ(contacts.name_for(L"07700900123"), L"Alice");
    EXPECT_EQ(contacts.name_for(L"900123"), L"900123");
    EXPECT_EQ(contacts.name_for(L"555"), L"bob");
    EXPECT_EQ(contacts.name_for(L"92345678"), L"Carol");
    EXPECT_EQ(contacts.name_for(L"+449999999"), L"+449999999");

    const auto& list = contacts.contacts();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0]->name, L"Alice");
    EXPECT_EQ(list[1]->name, L"bob");
    EXPECT_EQ(list[1]->numbers.at(1)->type, "h");
    EXPECT_EQ(list[1]->numbers.at(1)->index, 1);
    EXPECT_EQ(list[2]->name, L"Carol");
    EXPECT_EQ(list[2]->sim_marker, L" ");
    EXPECT_EQ(list[2]->numbers.at(0)->type, "s");
    EXPECT_EQ(list[2]->numbers.at(0)->index, 3);
}

TEST(DeviceContacts, AddsTheHollerContactUnlessOneHasTheExactName)
{
    for (const std::wstring name : {L"Vokar Holler", L"vokar holler"}) {
        auto book = std::make_unique<FakeAddressBook>();
        book->book = {{name, {}}};
        FakeAddressBook* fake = book.get();
        DeviceContacts contacts(std::move(book), L"+4400");
        contacts.load();
        const bool exact = name == DeviceContacts::kHollerName;
        EXPECT_EQ(fake->added, exact ? std::vector<std::wstring>{}
                                     : std::vector<std::wstring>{L"Vokar Holler=+4400"});
    }
    // An address book that does not open is left alone; the SIM is still read.
    auto book = std::make_unique<FakeAddressBook>();
    book->opens = false;
    book->book = {{L"Hidden", {{L"1", 'm'}}}};
    book->sim = {{L"Sim", {{L"2", 's'}}}};
    FakeAddressBook* fake = book.get();
    DeviceContacts contacts(std::move(book), L"+4400");
    contacts.load();
    EXPECT_TRUE(fake->added.empty());
    ASSERT_EQ(contacts.contacts().size(), 1u);
    EXPECT_EQ(contacts.name_for(L"2"), L"Sim");
}

TEST(DeviceContacts, LoadsTheVcardFileOnItsThreadAndAddsTheHollerContactOnce)
{
    const std::string path =
        ::testing::TempDir() + "vokar_device_contacts_" + std::to_string(::getpid()) + ".vcf";
    std::ofstream(path) << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL;TYPE=cell:+4471\r\n"
                           "END:VCARD\r\n";
    for (int run = 0; run < 2; ++run) {
        DeviceContacts contacts(platform::make_vcard_address_book(path), L"+4499");
        contacts.load_async();
        contacts.load_async();
    } // the destructor waits for the loading thread
    DeviceContacts contacts(platform::make_vcard_address_book(path), L"+4499");
    contacts.load();
    ASSERT_EQ(contacts.contacts().size(), 2u);
    EXPECT_EQ(contacts.name_for(L"+4499"), L"Vokar Holler");
    EXPECT_EQ(contacts.name_for(L"+4471"), L"Ann");
    std::filesystem::remove(path);

    // No file: nothing to read or create, ready at once.
    DeviceContacts empty(platform::make_vcard_address_book(path), L"+4499");
    empty.load();
    EXPECT_TRUE(empty.ready());
    EXPECT_TRUE(empty.contacts().empty());
    EXPECT_FALSE(std::filesystem::exists(path));
}

} // namespace
} // namespace vokar
