#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
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

// The address book kept as a vCard file (3.0 or 4.0; "contacts.vcf" in the
// data directory). It does not open when the file is missing or unreadable.
// There is no SIM on this platform.
std::unique_ptr<AddressBook> make_vcard_address_book(std::string path);

// Limits of the vCard reader: larger files are read only this far, and a
// contact keeps at most this many numbers (one mobile, two home, two work,
// one car, in that order).
constexpr size_t kMaxVcardFileBytes = 4 * 1024 * 1024;
constexpr size_t kMaxNumbersPerContact = 6;

// The contacts of a vCard text, in file order: the name from FN (else from
// N), the numbers from TEL by TYPE (cell, home, work, car; untyped counts as
// cell; fax and pager numbers are left out).
std::vector<AddressBookContact> parse_vcards(std::string_view text);

// One vCard 3.0 record with a name and a mobile number, lines ended by CRLF.
std::string vcard_text(const std::wstring& name, const std::wstring& number);

} // namespace vokar::platform
