#pragma once

#include <functional>
#include <string>
#include <vector>

#include "account/device_contacts.h"
#include "ui/list_view.h"
#include "ui/virtual_dialog.h"

namespace vokar::ui {

// "Vokar - Contacts" for choosing a number: the device contacts, one row per
// number. Select hands the number to the screen that opened it and goes
// back; Cancel or Back goes back.
class ContactsPicker : public VirtualDialog {
public:
    static constexpr int kList = 3701;
    static constexpr int kCancelMenu = 109; // Select, Cancel
    static constexpr int kBackMenu = 110;   // Select, Back

    explicit ContactsPicker(DeviceContacts& contacts);
    // Shows the picker with soft-key menu `menu`; `on_pick` receives the
    // selected number.
    void pick(int menu, std::function<void(const std::wstring& number)> on_pick);
    intptr_t handle_message(const platform::Message& message) override;

private:
    void select();

    DeviceContacts& contacts_;
    ListView& list_;
    std::vector<std::wstring> numbers_;
    std::function<void(const std::wstring&)> on_pick_;
};

} // namespace vokar::ui
