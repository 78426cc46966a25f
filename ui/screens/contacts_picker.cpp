#include "ui/screens/contacts_picker.h"

#include "base/strings.h"
#include "ui/image_ids.h"
#include "ui/menus.h"
#include "ui/ui_messages.h"
#include "ui/ui_root.h"

namespace vokar::ui {

ContactsPicker::ContactsPicker(DeviceContacts& contacts)
    : VirtualDialog(LoadResourceString(StringId::CONTACTS_TITLE), kCancelMenu), contacts_(contacts),
      list_(add<ListView>(kList))
{
}

void ContactsPicker::pick(int menu, std::function<void(const std::wstring&)> on_pick)
{
    set_menu_bar_id(menu);
    on_pick_ = std::move(on_pick);
    numbers_.clear();
    std::vector<ListView::Row> rows;
    // Until the store is ready it reads as empty: "No data".
    for (const auto& contact : contacts_.contacts()) {
        for (const auto& number : contact->numbers) {
            rows.push_back({image(ImageId::Phone), contact->name, number->number});
            numbers_.push_back(number->number);
        }
    }
    list_.set_rows(std::move(rows));
    list_.set_selection(numbers_.empty() ? -1 : 0);
    root()->show_screen(*this);
}

void ContactsPicker::select()
{
    const int i = list_.selection();
    if (i < 0 || i >= static_cast<int>(numbers_.size())) {
        root()->message(LoadResourceString(StringId::CONTACTS_ERROR_NO_NUMBER), MessageKind::Error);
        return;
    }
    const std::wstring number = numbers_[i];
    root()->back();
    if (on_pick_)
        on_pick_(number);
}

intptr_t ContactsPicker::handle_message(const platform::Message& message)
{
    if (message.code == code(UiMessage::Command)) {
        switch (static_cast<CommandId>(message.wparam)) {
        case CommandId::SELECT:
            select();
            return 1;
        case CommandId::CANCEL:
        case CommandId::BACK:
            root()->back();
            return 1;
        default:
            return 0;
        }
    }
    if (message.code == code(UiMessage::KeyDown)) {
        const auto key = static_cast<platform::Key>(message.wparam);
        if (key == platform::Key::Action) {
            select();
            return 1;
        }
        if (key == platform::Key::Back) {
            root()->back();
            return 1;
        }
    }
    return VirtualDialog::handle_message(message);
}

} // namespace vokar::ui
