#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "account/call_log.h"
#include "platform/address_book.h"
#include "platform/thread.h"

namespace vokar {

struct ContactNumber {
    std::wstring number; // as stored on the device
    std::string type;    // "m" mobile, "h" home, "w" work, "c" car, "s" SIM
    int32_t index = 0;   // 1-based address-book position, or contacts loaded before a SIM entry
};

struct DeviceContact {
    std::wstring name;
    std::wstring sim_marker; // empty for address-book contacts, " " for SIM entries
    std::vector<std::unique_ptr<ContactNumber>> numbers;
};

// The device's contacts, loaded once on a thread of their own into a list
// sorted by name and an index keyed by the last seven characters of each
// number. Readers check ready() first: until it is true the store reads as
// empty, and once it is true the lists never change again.
class DeviceContacts final : public ContactNames {
public:
    static constexpr const wchar_t* kHollerName = L"Vokar Holler";
    static constexpr size_t kKeyLength = 7;

    // `holler_number`: the number of the service's Holler sender, given to
    // the contact added when the address book has none named kHollerName.
    DeviceContacts(std::unique_ptr<platform::AddressBook> book, std::wstring holler_number);
    // Waits for the loading thread.
    ~DeviceContacts() override;
    DeviceContacts(const DeviceContacts&) = delete;
    DeviceContacts& operator=(const DeviceContacts&) = delete;

    // Starts the loading thread. Loading happens once: a second load_async()
    // or load() does nothing.
    void load_async();
    // Loads on the calling thread.
    void load();

    bool ready() const override { return ready_.load(std::memory_order_acquire); }
    // The name of the contact owning the number's key, else the number itself.
    std::wstring name_for(const std::wstring& number) const override;
    // Sorted by name, case-insensitively. Empty until ready().
    const std::vector<std::unique_ptr<DeviceContact>>& contacts() const;

    // The last kKeyLength characters, or the whole number when shorter.
    static std::wstring key_for(const std::wstring& number);

private:
    void run();
    void append(std::unique_ptr<DeviceContact> contact);

    std::unique_ptr<platform::AddressBook> book_;
    const std::wstring holler_number_;
    std::atomic<bool> started_{false};
    std::vector<std::unique_ptr<DeviceContact>> contacts_;
    const std::vector<std::unique_ptr<DeviceContact>> none_; // what readers see until ready
    std::unordered_map<std::wstring, std::wstring> by_number_;
    std::atomic<bool> ready_{false};
    platform::Thread loader_;
};

} // namespace vokar
