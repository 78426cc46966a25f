#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vokar::platform {

struct AddressBookNumber {
    std::wstring number; // as stored
    char type = 'm';     // 'm' mobile, 'h' home, 'w' work, 'c' car, 's' SIM
};

struct AddressBookContact {
    std::wstring name;
    std::vector<AddressBookNumber> numbers;
};

// The device's own contacts: the address book and the SIM phone book.
class AddressBook {
public:
    virtual ~AddressBook() = default;
    // False when the address book cannot be opened; contacts() is then empty.
    virtual bool open() = 0;
    // Address-book contacts in their stored order.
    virtual std::vector<AddressBookContact> contacts() = 0;
    // Adds a contact with one mobile number; false when it cannot be stored.
    virtual bool add_contact(const std::wstring& name, const std::wstring& number) = 0;
    // SIM phone-book entries (one number each, type 's').
    virtual std::vector<AddressBookContact> sim_entries() = 0;
};

// An address book with nothing in it: opens, holds no contacts, stores nothing.
std::unique_ptr<AddressBook> make_null_address_book();

} // namespace vokar::platform
