#include "ui/screens/gateway_screens.h"

#include "base/strings.h"
#include "ui/menus.h"
#include "ui/screens/main_screen.h"
#include "ui/ui_messages.h"
#include "ui/ui_root.h"
#include "xmpp/jabber_event.h"

namespace vokar::ui {

namespace {

constexpr int kGatewaysMenu = 106;
constexpr int kGatewayMenu = 105;

// The networks with a gateway, in the order of the client's transport list.
constexpr int kGatewayNetworks[] = {kNetworkMsn,      kNetworkYahoo, kNetworkIcq,
                                    kNetworkAim,      kNetworkGtalk, kNetworkSkype,
                                    kNetworkFacebook, kNetworkQq,    kNetworkGaduGadu};

uint16_t command_of(const platform::Message& message)
{
    return message.code == code(UiMessage::Command) ? static_cast<uint16_t>(message.wparam) : 0;
}

} // namespace

// ---- Edit Gateways

EditGatewaysScreen::EditGatewaysScreen(MainScreens& hub)
    : VirtualDialog(LoadResourceString(StringId::EDIT_GATEWAYS_TITLE), kGatewaysMenu), hub_(hub),
      list_(add<ListView>(kList))
{
}

void EditGatewaysScreen::open()
{
    list_.set_selection(0);
    root()->show_screen(*this);
}

void EditGatewaysScreen::activate(bool first_time)
{
    refresh();
    VirtualDialog::activate(first_time);
}

void EditGatewaysScreen::refresh()
{
    std::vector<ListView::Row> rows;
    for (int network : kGatewayNetworks) {
        const bool registered = hub_.gateway_enabled(network);
        rows.push_back({network_icon(network), LoadResourceString(network_name(network)),
                        LoadResourceString(registered ? StringId::GATEWAY_STATE_AVAILABLE
                                                      : StringId::GATEWAY_STATE_OFFLINE)});
    }
    list_.set_rows(std::move(rows));
    if (list_.selection() < 0)
        list_.set_selection(0);
}

int EditGatewaysScreen::selected_network() const
{
    const int i = list_.selection();
    return i >= 0 && i < static_cast<int>(std::size(kGatewayNetworks)) ? kGatewayNetworks[i] : -1;
}

intptr_t EditGatewaysScreen::handle_message(const platform::Message& message)
{
    const auto key = message.code == code(UiMessage::KeyDown)
                         ? static_cast<platform::Key>(message.wparam)
                         : platform::Key::None;
    switch (static_cast<CommandId>(command_of(message))) {
    case CommandId::EDIT:
        if (selected_network() >= 0)
            hub_.gateway().open(selected_network());
        return 1;
    case CommandId::DISABLE_ACCOUNT:
        if (selected_network() < 0)
            return 1;
        if (!hub_.service().connected()) {
            hub_.error(StringId::FRIENDS_ERROR_NOT_CONNECTED);
            return 1;
        }
        hub_.unregister_gateway(selected_network());
        refresh();
        hub_.info(LoadResourceString(StringId::EDIT_GATEWAYS_DISABLED));
        return 1;
    case CommandId::GATEWAYS_BACK:
        root()->back();
        return 1;
    default:
        break;
    }
    if (key == platform::Key::Back) {
        root()->back();
        return 1;
    }
    if (key == platform::Key::Action && selected_network() >= 0) {
        hub_.gateway().open(selected_network());
        return 1;
    }
    return VirtualDialog::handle_message(message);
}

// ---- Edit Gateway

EditGatewayScreen::EditGatewayScreen(MainScreens& hub)
    : VirtualDialog(LoadResourceString(StringId::EDIT_GATEWAY_TITLE), kGatewayMenu), hub_(hub),
      caption_(add<Label>(L"", kCaption, true)),
      user_(add<TextBox>(kUserEdit, LoadResourceString(StringId::EDIT_GATEWAY_USERNAME_LABEL))),
      password_(
          add<TextBox>(kPasswordEdit, LoadResourceString(StringId::EDIT_GATEWAY_PASSWORD_LABEL)))
{
}

void EditGatewayScreen::open(int network)
{
    network_ = network;
    const auto caption = gateway_caption(network);
    caption_.set_text(caption ? LoadResourceString(*caption)
                              : LoadResourceString(StringId::NETWORK_UNKNOWN));
    user_.set_text(L"");
    password_.set_text(L"");
    root()->show_screen(*this);
}

void EditGatewayScreen::save()
{
    if (user_.text().empty() || password_.text().empty()) {
        hub_.error(StringId::EDIT_GATEWAY_ERROR_EMPTY);
        return;
    }
    if (!hub_.service().connected()) {
        hub_.error(StringId::FRIENDS_ERROR_NOT_CONNECTED);
        return;
    }
    hub_.register_gateway(network_, user_.text(), password_.text());
    root()->back();
    hub_.info(LoadResourceString(StringId::EDIT_GATEWAY_DETAILS_SET));
}

intptr_t EditGatewayScreen::handle_message(const platform::Message& message)
{
    switch (static_cast<CommandId>(command_of(message))) {
    case CommandId::OK:
        save();
        return 1;
    case CommandId::CANCEL:
        root()->back();
        return 1;
    default:
        return VirtualDialog::handle_message(message);
    }
}

} // namespace vokar::ui
