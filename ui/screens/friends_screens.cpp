#include "ui/screens/friends_screens.h"

#include "base/strings.h"
#include "ui/image_ids.h"
#include "ui/menus.h"
#include "ui/screens/contacts_picker.h"
#include "ui/screens/main_screen.h"
#include "ui/ui_messages.h"
#include "ui/ui_root.h"
#include "xmpp/jabber_event.h"

namespace vokar::ui {

using platform::Key;

namespace {

constexpr int kChatMenu = 104;
constexpr int kOkMenu = 113;
constexpr int kHollerMenu = 140;

uint16_t command_of(const platform::Message& message)
{
    return message.code == code(UiMessage::Command) ? static_cast<uint16_t>(message.wparam) : 0;
}

bool is_key(const platform::Message& message, Key key)
{
    return message.code == code(UiMessage::KeyDown) && static_cast<Key>(message.wparam) == key;
}

struct NetworkTexts {
    int network;
    StringId caption;
    StringId label;
};

constexpr NetworkTexts kAddFriendTexts[] = {
    {kNetworkService, StringId::ADD_FRIEND_CAPTION_VOKAR, StringId::ADD_FRIEND_VOKAR_NUMBER_LABEL},
    {kNetworkAim, StringId::ADD_FRIEND_CAPTION_AIM, StringId::ADD_FRIEND_AIM_USERNAME_LABEL},
    {kNetworkMsn, StringId::ADD_FRIEND_CAPTION_MSN, StringId::ADD_FRIEND_MSN_EMAIL_LABEL},
    {kNetworkGtalk, StringId::ADD_FRIEND_CAPTION_GOOGLE,
     StringId::ADD_FRIEND_GOOGLETALK_EMAIL_LABEL},
    {kNetworkIcq, StringId::ADD_FRIEND_CAPTION_ICQ, StringId::ADD_FRIEND_ICQ_NUMBER_LABEL},
    {kNetworkYahoo, StringId::ADD_FRIEND_CAPTION_YAHOO, StringId::ADD_FRIEND_YAHOO_EMAIL_LABEL},
    {kNetworkJabber, StringId::ADD_FRIEND_CAPTION_JABBER,
     StringId::ADD_FRIEND_JABBER_ADDRESS_LABEL},
};

} // namespace

// ---- Full Screen Chat

FullScreenChatScreen::FullScreenChatScreen(MainScreens& hub)
    : VirtualDialog(LoadResourceString(StringId::FULL_SCREEN_CHAT_TITLE), kChatMenu), hub_(hub),
      name_(add<Label>(L"", 0, true)), chat_(add<ChatView>(kChat)),
      input_(add<TextBox>(kInputEdit, L""))
{
}

void FullScreenChatScreen::open(const std::wstring& jid, const std::wstring& name)
{
    jid_ = jid;
    name_.set_text(name);
    if (const auto f = hub_.friends().find(jid))
        hub_.chats().sync(*f);
    chat_.set_lines(&hub_.chats().lines(jid));
    input_.set_text(L"");
    root()->show_screen(*this);
    hub_.friends().markRead(jid);
}

void FullScreenChatScreen::send()
{
    const std::wstring text = input_.text();
    if (text.empty() || jid_.empty())
        return;
    if (!hub_.service().connected()) {
        hub_.error(StringId::FRIENDS_ERROR_NOT_CONNECTED);
        return;
    }
    hub_.service().send_message(jid_, text);
    hub_.chats().add_own(jid_, text);
    input_.set_text(L"");
    chat_.invalidate();
}

intptr_t FullScreenChatScreen::handle_message(const platform::Message& message)
{
    const uint16_t command = command_of(message);
    if (command == ui::command(CommandId::SEND) || is_key(message, Key::Action)) {
        send();
        return 1;
    }
    if (command == ui::command(CommandId::BACK) ||
        (is_key(message, Key::Back) && input_.text().empty())) {
        root()->back();
        return 1;
    }
    return VirtualDialog::handle_message(message);
}

// ---- Friend Details

FriendDetailsScreen::FriendDetailsScreen()
    : VirtualDialog(LoadResourceString(StringId::FRIEND_DETAILS_TITLE), kOkMenu),
      caption_(add<Label>(LoadResourceString(StringId::FRIEND_DETAILS_NAME_LABEL), 0, true)),
      name_(add<Label>(L"", kName)), address_(add<Label>(L"", kAddress)),
      network_(add<Label>(L"", kNetwork)), presence_(add<Label>(L"", kPresence))
{
}

void FriendDetailsScreen::show(const Friend& f)
{
    name_.set_text(f.name);
    address_.set_text(f.jid);
    network_.set_text(LoadResourceString(network_name(f.network)));
    std::wstring presence = LoadResourceString(presence_text(f.status));
    if (!f.status_text.empty())
        presence += L" - " + f.status_text;
    presence_.set_text(presence);
    root()->show_screen(*this);
}

intptr_t FriendDetailsScreen::handle_message(const platform::Message& message)
{
    if (command_of(message) == ui::command(CommandId::OK) || is_key(message, Key::Back)) {
        root()->back();
        return 1;
    }
    return VirtualDialog::handle_message(message);
}

// ---- Add Friend

AddFriendScreen::AddFriendScreen(MainScreens& hub)
    : VirtualDialog(LoadResourceString(StringId::ADD_FRIEND_TITLE), kMenu), hub_(hub),
      caption_(add<Label>(L"", kCaption, true)),
      address_(add<TextBox>(kAddressEdit, LoadResourceString(StringId::ADD_FRIEND_ADDRESS_LABEL)))
{
}

void AddFriendScreen::open(int network, int menu)
{
    network_ = network;
    set_menu_bar_id(menu);
    caption_.set_text(L"");
    address_.set_caption(LoadResourceString(StringId::ADD_FRIEND_ADDRESS_LABEL));
    for (const NetworkTexts& t : kAddFriendTexts) {
        if (t.network == network) {
            caption_.set_text(LoadResourceString(t.caption));
            address_.set_caption(LoadResourceString(t.label));
        }
    }
    address_.set_text(L"");
    root()->show_screen(*this);
}

void AddFriendScreen::add_friend()
{
    std::wstring address = address_.text();
    if (network_ == kNetworkService)
        address = hub_.service().normalize(address);
    if (address.empty()) {
        hub_.error(StringId::ADD_FRIEND_ERROR_EMPTY);
        return;
    }
    if (!hub_.service().connected()) {
        hub_.error(StringId::FRIENDS_ERROR_NOT_CONNECTED);
        return;
    }
    hub_.service().add(network_, address);
    root()->back();
    hub_.info(LoadResourceString(StringId::ADD_FRIEND_REQUEST_SENT));
}

intptr_t AddFriendScreen::handle_message(const platform::Message& message)
{
    switch (static_cast<CommandId>(command_of(message))) {
    case CommandId::ADD_FRIEND:
        add_friend();
        return 1;
    case CommandId::INSERT_FROM_CONTACTS:
        hub_.picker().pick(ContactsPicker::kCancelMenu,
                           [this](const std::wstring& number) { address_.set_text(number); });
        return 1;
    case CommandId::OPTIONS_CANCEL:
    case CommandId::CANCEL:
        root()->back();
        return 1;
    default:
        break;
    }
    if (is_key(message, Key::Back) && address_.text().empty()) {
        root()->back();
        return 1;
    }
    return VirtualDialog::handle_message(message);
}

// ---- Holler

HollerScreen::HollerScreen(MainScreens& hub)
    : VirtualDialog(LoadResourceString(StringId::HOLLER_TITLE), kHollerMenu), hub_(hub),
      heading_(add<Label>(L"", kHeading, true)), senders_(add<ListView>(kSenders))
{
}

void HollerScreen::show_senders(const std::vector<std::wstring>& senders)
{
    set_title(LoadResourceString(StringId::HOLLER_TITLE));
    heading_.set_text(LoadResourceString(StringId::HOLLER_RECEIVED_LABEL));
    jids_.clear();
    std::vector<ListView::Row> rows;
    FriendsModel& model = hub_.friends();
    for (const std::wstring& sender : senders) {
        // A sender is a JID or the number of a friend of the service.
        std::wstring jid = sender;
        std::wstring name = sender;
        const int n = model.shownCount();
        for (int i = 0; i < n; ++i) {
            const auto f = model.friendAt(i);
            if (f && (f->jid == sender || f->jid.rfind(sender + L"@", 0) == 0)) {
                jid = f->jid;
                name = f->name;
                break;
            }
        }
        jids_.push_back(jid);
        rows.push_back({image(ImageId::Messages), name, L""});
    }
    senders_.set_rows(std::move(rows));
    senders_.set_selection(jids_.empty() ? -1 : 0);
    senders_.show();
    root()->show_screen(*this);
}

void HollerScreen::show_notice(const std::wstring& text)
{
    set_title(LoadResourceString(StringId::HOLLER_NOTICE_TITLE));
    heading_.set_text(text);
    jids_.clear();
    senders_.set_rows({});
    senders_.hide();
    root()->show_screen(*this);
}

intptr_t HollerScreen::handle_message(const platform::Message& message)
{
    switch (static_cast<CommandId>(command_of(message))) {
    case CommandId::CHAT: {
        const int i = senders_.selection();
        if (i < 0 || i >= static_cast<int>(jids_.size()))
            return 1;
        const std::wstring jid = jids_[i];
        const auto f = hub_.friends().find(jid);
        root()->back();
        hub_.chat().open(jid, f ? f->name : jid);
        return 1;
    }
    case CommandId::CLOSE:
        root()->back();
        return 1;
    default:
        break;
    }
    if (is_key(message, Key::Back)) {
        root()->back();
        return 1;
    }
    return VirtualDialog::handle_message(message);
}

} // namespace vokar::ui
