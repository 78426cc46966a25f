#include "ui/screens/notices.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "base/strings.h"
#include "platform/text.h"
#include "ui/menus.h"
#include "ui/progress_screen.h"
#include "ui/screens/friends_screens.h"
#include "ui/screens/gateway_screens.h"
#include "ui/screens/main_screen.h"
#include "ui/screens/simple_screens.h"
#include "ui/ui_messages.h"
#include "ui/ui_root.h"
#include "xmpp/jabber_event.h"

namespace vokar::ui {

namespace {
constexpr int kYesNoMenu = 141;
} // namespace

FriendRequestScreen::FriendRequestScreen(MainScreens& hub)
    : VirtualDialog(L"", kYesNoMenu), hub_(hub)
{
    add<Label>(LoadResourceString(StringId::FRIEND_REQUEST_QUESTION), kText);
}

void FriendRequestScreen::ask(const std::wstring& jid, const std::wstring& name)
{
    jid_ = jid;
    name_ = name;
    set_title(name);
    root()->show_screen(*this);
}

intptr_t FriendRequestScreen::handle_message(const platform::Message& message)
{
    if (message.code != code(UiMessage::Command))
        return VirtualDialog::handle_message(message);
    switch (static_cast<CommandId>(message.wparam)) {
    case CommandId::YES:
        root()->back();
        hub_.notices().request_answered(jid_);
        hub_.service().accept(jid_, name_);
        return 1;
    case CommandId::NO:
        root()->back();
        hub_.notices().request_answered(jid_);
        hub_.service().reject(jid_);
        return 1;
    default:
        return 0;
    }
}

Notices::Notices(MainScreens& hub)
    : hub_(hub), request_(hub.root().add_screen<FriendRequestScreen>(hub))
{
}

int Notices::gateway_network(const std::wstring& jid)
{
    static const std::pair<const wchar_t*, int> kPrefixes[] = {
        {L"aim", kNetworkAim},           {L"msn", kNetworkMsn},     {L"icq", kNetworkIcq},
        {L"yahoo", kNetworkYahoo},       {L"gtalk", kNetworkGtalk}, {L"skype", kNetworkSkype},
        {L"facebook", kNetworkFacebook}, {L"qq", kNetworkQq},       {L"gadugadu", kNetworkGaduGadu},
    };
    const size_t at = jid.find(L'@');
    const std::wstring domain = at == std::wstring::npos ? jid : jid.substr(at + 1);
    const std::wstring label = domain.substr(0, domain.find(L'.'));
    for (const auto& [prefix, network] : kPrefixes)
        if (label == prefix)
            return network;
    return -1;
}

void Notices::show(const std::wstring& text)
{
    UiRoot& root = hub_.root();
    // A notice that ends a wait takes the progress screen's place.
    root.message(text, MessageKind::Information, root.current() == &root.progress_screen());
}

void Notices::ask_next_request()
{
    UiRoot& root = hub_.root();
    if (!ready() || root.current() == &request_)
        return;
    FriendsModel& model = hub_.friends();
    const int n = model.shownCount();
    for (int i = 0; i < n; ++i) {
        const auto f = model.friendAt(i);
        if (!f || f->status != kStatusPending || !asked_.insert(f->jid).second)
            continue;
        request_.ask(f->jid, f->name);
        return;
    }
}

void Notices::ask_import()
{
    hub_.question().ask(LoadResourceString(StringId::IMPORT_IM_ACCOUNTS_TITLE),
                        LoadResourceString(StringId::IMPORT_IM_ACCOUNTS_QUESTION),
                        [this] { hub_.gateways().open(); });
}

bool Notices::ready() const
{
    return main_shown_ && hub_.root().current() != &hub_.root().progress_screen();
}

void Notices::when_ready(std::function<void()> notice)
{
    if (ready())
        notice();
    else
        deferred_.push_back(std::move(notice));
}

void Notices::main_screen_shown()
{
    main_shown_ = true;
    for (auto& notice : std::exchange(deferred_, {}))
        notice();
    ask_next_request();
}

std::optional<intptr_t> Notices::handle_event(const platform::Message& message)
{
    switch (static_cast<MessageCode>(message.code)) {
    case MessageCode::FriendsModelChanged:
    case MessageCode::FriendsListChanged:
        ask_next_request();
        return std::nullopt; // the friends page redraws too
    case MessageCode::FriendRequestAccepted:
        show(LoadResourceString(StringId::FRIEND_REQUEST_ACCEPTED));
        return 0;
    case MessageCode::FriendRequestRejected:
        show(LoadResourceString(StringId::FRIEND_REQUEST_REJECTED));
        return 0;
    case MessageCode::HollerFriendOnline:
        if (message.wparam) {
            // The core names the friend by its chat-line prefix ("Bob: ").
            std::wstring name = *reinterpret_cast<const std::wstring*>(message.wparam);
            if (name.ends_with(L": "))
                name.resize(name.size() - 2);
            when_ready(
                [this, text = name + LoadResourceString(StringId::FRIEND_NOW_ONLINE_SUFFIX)] {
                    hub_.holler().show_notice(text);
                });
        }
        return 0;
    case MessageCode::HollersRetrieved:
        if (message.wparam) {
            std::vector<std::wstring> senders;
            for (const std::string& s :
                 *reinterpret_cast<const std::vector<std::string>*>(message.wparam))
                senders.push_back(platform::to_wide(s));
            if (!senders.empty())
                when_ready([this, senders] { hub_.holler().show_senders(senders); });
        }
        return 0;
    case MessageCode::HollerAnswered:
        // Ends the wait of the holler's progress screen.
        if (message.wparam)
            show(platform::to_wide(*reinterpret_cast<const std::string*>(message.wparam)));
        return 0;
    case MessageCode::ServiceMessage:
        if (message.wparam)
            when_ready([this, text = platform::to_wide(*reinterpret_cast<const std::string*>(
                                  message.wparam))] { show(text); });
        return 0;
    case MessageCode::GatewayMessageFailed: {
        if (!message.wparam)
            return std::nullopt; // the roster has loaded
        const auto& event = *reinterpret_cast<const JabberEvent*>(message.wparam);
        const auto caption = gateway_caption(gateway_network(platform::to_wide(event.jid)));
        std::wstring text =
            caption ? LoadResourceString(*caption) : LoadResourceString(StringId::NETWORK_UNKNOWN);
        if (!event.text.empty())
            text += L": " + platform::to_wide(event.text);
        when_ready([this, text] { hub_.root().message(text, MessageKind::Warning); });
        return 0;
    }
    case MessageCode::AskImportAccounts:
        when_ready([this] { ask_import(); });
        return 0;
    default:
        return std::nullopt;
    }
}

} // namespace vokar::ui
