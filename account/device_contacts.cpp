#include "account/device_contacts.h"

#include <algorithm>
#include <cwctype>

namespace vokar {
namespace {

bool name_less(const std::unique_ptr<DeviceContact>& a, const std::unique_ptr<DeviceContact>& b)
{
    return std::lexicographical_compare(
        a->name.begin(), a->name.end(), b->name.begin(), b->name.end(), [](wchar_t x, wchar_t y) {
            return std::towlower(static_cast<wint_t>(x)) < std::towlower(static_cast<wint_t>(y));
        });
}

} // namespace

DeviceContacts::DeviceContacts(std::unique_ptr<platform::AddressBook> book,
                               std::wstring holler_number)
    : book_(book ? std::move(book) : platform::make_null_address_book()),
      holler_number_(std::move(holler_number)), by_number_(8)
{
    by_number_.max_load_factor(4.0f);
}

DeviceContacts::~DeviceContacts()
{
    if (loader_.joinable())
        loader_.join();
}

void DeviceContacts::load_async()
{
    if (started_.exchange(true))
        return;
    loader_ = platform::Thread([this] { run(); }, platform::Thread::Priority::BelowNormal);
}

std::wstring DeviceContacts::key_for(const std::wstring& number)
{
    return number.size() > kKeyLength ? number.substr(number.size() - kKeyLength) : number;
}

void DeviceContacts::append(std::unique_ptr<DeviceContact> contact)
{
    // A later contact with the same key replaces an earlier one.
    for (const auto& number : contact->numbers)
        by_number_[key_for(number->number)] = contact->name;
    contacts_.push_back(std::move(contact));
}

void DeviceContacts::load()
{
    if (!started_.exchange(true))
        run();
}

void DeviceContacts::run()
{
    if (book_->open()) {
        bool holler_seen = false;
        int32_t index = 0;
        for (const auto& entry : book_->contacts()) {
            ++index;
            auto contact = std::make_unique<DeviceContact>();
            contact->name = entry.name;
            // Only the exact name counts: one differing in case is another contact.
            holler_seen = holler_seen || entry.name == kHollerName;
            for (const auto& number : entry.numbers) {
                if (number.number.empty())
                    continue;
                contact->numbers.push_back(std::make_unique<ContactNumber>(
                    ContactNumber{number.number, std::string(1, number.type), index}));
            }
            append(std::move(contact));
        }
        if (!holler_seen && !holler_number_.empty())
            book_->add_contact(kHollerName, holler_number_);
    }

    for (const auto& entry : book_->sim_entries()) {
        if (entry.numbers.empty())
            continue;
        auto contact = std::make_unique<DeviceContact>();
        contact->name = entry.name;
        contact->sim_marker = L" ";
        contact->numbers.push_back(std::make_unique<ContactNumber>(ContactNumber{
            entry.numbers.front().number, "s", static_cast<int32_t>(contacts_.size())}));
        append(std::move(contact));
    }

    std::stable_sort(contacts_.begin(), contacts_.end(), name_less);
    // Last, with release order: a reader that sees it sees the finished lists.
    ready_.store(true, std::memory_order_release);
}

std::wstring DeviceContacts::name_for(const std::wstring& number) const
{
    if (!ready() || by_number_.empty())
        return number;
    const auto found = by_number_.find(key_for(number));
    return found == by_number_.end() ? number : found->second;
}

const std::vector<std::unique_ptr<DeviceContact>>& DeviceContacts::contacts() const
{
    return ready() ? contacts_ : none_;
}

} // namespace vokar
