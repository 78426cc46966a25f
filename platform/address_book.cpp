#include "platform/address_book.h"

namespace vokar::platform {
namespace {

class NullAddressBook final : public AddressBook {
public:
    bool open() override { return true; }
    std::vector<AddressBookContact> contacts() override { return {}; }
    bool add_contact(const std::wstring&, const std::wstring&) override { return false; }
    std::vector<AddressBookContact> sim_entries() override { return {}; }
};

} // namespace

std::unique_ptr<AddressBook> make_null_address_book()
{
    return std::make_unique<NullAddressBook>();
}

} // namespace vokar::platform
