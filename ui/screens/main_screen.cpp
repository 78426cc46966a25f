#include "ui/screens/main_screen.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "base/messages.h"
#include "platform/thread.h"
#include "ui/chat_view.h"
#include "ui/image_ids.h"
#include "ui/menus.h"
#include "ui/screens/contacts_picker.h"
#include "ui/screens/dialer.h"
#include "ui/screens/friends_screens.h"
#include "ui/screens/gateway_screens.h"
#include "ui/screens/notices.h"
#include "ui/screens/simple_screens.h"
#include "ui/theme.h"
#include "ui/ui_messages.h"
#include "ui/ui_root.h"
#include "xmpp/jabber_event.h"

namespace vokar::ui {

using platform::Key;

namespace {

constexpr int kMainMenu = 102;
constexpr int kFriendsMenu = 103;
constexpr int kHollerProgressMenu = 145;
// Posted by the loading thread when the contacts or the history are ready.
constexpr uint32_t kMainDataReady = 2310;

uint16_t command_of(const platform::Message& message)
{
    return message.code == code(UiMessage::Command) ? static_cast<uint16_t>(message.wparam) : 0;
}

int call_icon(int32_t type)
{
    switch (type) {
    case kCallIncoming:
        return image(ImageId::CallIncoming);
    case kCallOutgoing:
        return image(ImageId::CallOutgoing);
    default:
        return image(ImageId::CallMissed);
    }
}

// The number of a friend of the service: its JID up to the at sign.
std::wstring number_of(const std::wstring& jid)
{
    return jid.substr(0, jid.find(L'@'));
}

bool online(int status)
{
    return status == kStatusAvailable || status == kStatusAway || status == kStatusBusy;
}

} // namespace

// ---- names and icons of networks and presence

StringId network_name(int network)
{
    switch (network) {
    case kNetworkService:
        return StringId::NETWORK_VOKAR;
    case kNetworkAim:
        return StringId::NETWORK_AIM;
    case kNetworkMsn:
        return StringId::NETWORK_MSN;
    case kNetworkGtalk:
        return StringId::NETWORK_GOOGLETALK;
    case kNetworkIcq:
        return StringId::NETWORK_ICQ;
    case kNetworkJabber:
    case kNetworkPlain:
        return StringId::NETWORK_JABBER;
    case kNetworkYahoo:
        return StringId::NETWORK_YAHOO;
    case kNetworkSkype:
        return StringId::NETWORK_SKYPE;
    case kNetworkFacebook:
        return StringId::NETWORK_FACEBOOK;
    case kNetworkQq:
        return StringId::NETWORK_QQ;
    case kNetworkGaduGadu:
        return StringId::NETWORK_GADU_GADU;
    default:
        return StringId::NETWORK_UNKNOWN;
    }
}

std::optional<StringId> gateway_caption(int network)
{
    switch (network) {
    case kNetworkGtalk:
        return StringId::GATEWAY_CAPTION_GOOGLETALK;
    case kNetworkAim:
        return StringId::GATEWAY_CAPTION_AIM;
    case kNetworkYahoo:
        return StringId::GATEWAY_CAPTION_YAHOO;
    case kNetworkMsn:
        return StringId::GATEWAY_CAPTION_MSN;
    case kNetworkIcq:
        return StringId::GATEWAY_CAPTION_ICQ;
    case kNetworkJabber:
        return StringId::GATEWAY_CAPTION_JABBER;
    case kNetworkSkype:
        return StringId::GATEWAY_CAPTION_SKYPE;
    case kNetworkFacebook:
        return StringId::GATEWAY_CAPTION_FACEBOOK;
    case kNetworkQq:
        return StringId::GATEWAY_CAPTION_QQ;
    case kNetworkGaduGadu:
        return StringId::GATEWAY_CAPTION_GADU_GADU;
    default:
        return std::nullopt;
    }
}

int network_icon(int network)
{
    switch (network) {
    case kNetworkService:
        return image(ImageId::NetworkVokar);
    case kNetworkAim:
        return image(ImageId::NetworkAim);
    case kNetworkMsn:
        return image(ImageId::NetworkMsn);
    case kNetworkGtalk:
        return image(ImageId::NetworkGoogle);
    case kNetworkIcq:
        return image(ImageId::NetworkIcq);
    case kNetworkJabber:
    case kNetworkPlain:
        return image(ImageId::NetworkJabber);
    case kNetworkYahoo:
        return image(ImageId::NetworkYahoo);
    case kNetworkSkype:
        return image(ImageId::NetworkSkype);
    case kNetworkFacebook:
        return image(ImageId::NetworkFacebook);
    case kNetworkQq:
        return image(ImageId::NetworkQq);
    case kNetworkGaduGadu:
        return image(ImageId::NetworkGaduGadu);
    default:
        return image(ImageId::NetworkUnknown);
    }
}

int presence_icon(int status)
{
    switch (status) {
    case kStatusAvailable:
        return image(ImageId::PresenceAvailable);
    case kStatusAway:
        return image(ImageId::PresenceAway);
    case kStatusBusy:
        return image(ImageId::PresenceBusy);
    case kStatusOffline:
        return image(ImageId::PresenceOffline);
    default:
        return image(ImageId::PresenceUnknown);
    }
}

StringId presence_text(int status)
{
    switch (status) {
    case kStatusAvailable:
        return StringId::FRIEND_DETAILS_PRESENCE_AVAILABLE;
    case kStatusAway:
        return StringId::GATEWAY_STATE_AWAY;
    case kStatusBusy:
        return StringId::GATEWAY_STATE_BUSY;
    case kStatusPending:
        return StringId::GATEWAY_STATE_PENDING;
    case kStatusRequested:
        return StringId::GATEWAY_STATE_REQUESTED;
    default:
        return StringId::GATEWAY_STATE_OFFLINE;
    }
}

// ---- Contacts page

ContactsPage::ContactsPage(MainScreens& hub)
    : VirtualDialog(LoadResourceString(StringId::CONTACTS_TITLE), kMainMenu), hub_(hub),
      list_(add<ListView>(kList))
{
}

void ContactsPage::activate(bool first_time)
{
    refresh();
    VirtualDialog::activate(first_time);
}

void ContactsPage::refresh()
{
    if (loaded_ || !hub_.contacts().ready())
        return;
    loaded_ = true;
    std::vector<ListView::Row> rows;
    for (const auto& contact : hub_.contacts().contacts()) {
        if (contact->numbers.empty()) {
            rows.push_back({image(ImageId::Friends), contact->name, L""});
            numbers_.emplace_back();
        }
        for (const auto& number : contact->numbers) {
            rows.push_back({image(ImageId::Phone), contact->name, number->number});
            numbers_.push_back(number->number);
        }
    }
    list_.set_rows(std::move(rows));
}

std::wstring ContactsPage::selected_number() const
{
    const int i = list_.selection();
    return i >= 0 && i < static_cast<int>(numbers_.size()) ? numbers_[i] : std::wstring();
}

intptr_t ContactsPage::handle_message(const platform::Message& message)
{
    if (const auto handled = hub_.number_list_message(message, selected_number(),
                                                      StringId::CONTACTS_ERROR_NO_NUMBER))
        return *handled;
    return VirtualDialog::handle_message(message);
}

// ---- Call History page

HistoryPage::HistoryPage(MainScreens& hub)
    : VirtualDialog(LoadResourceString(StringId::CALL_HISTORY_TITLE), kMainMenu), hub_(hub),
      list_(add<ListView>(kList))
{
}

void HistoryPage::set_history(std::vector<CallLogEntry> entries)
{
    // Calls logged while the history was being built are already on top.
    for (const CallLogEntry& e : entries) {
        const bool known = std::any_of(entries_.begin(), entries_.end(),
                                       [&](const CallLogEntry& k) { return k.number == e.number; });
        if (!known && entries_.size() < CallLog::kMaxHistoryRows)
            entries_.push_back(e);
    }
    show();
}

void HistoryPage::call_added(const CallLogEntry& entry)
{
    std::erase_if(entries_, [&](const CallLogEntry& e) { return e.number == entry.number; });
    entries_.insert(entries_.begin(), entry);
    if (entries_.size() > CallLog::kMaxHistoryRows)
        entries_.resize(CallLog::kMaxHistoryRows);
    show();
}

void HistoryPage::show()
{
    std::vector<ListView::Row> rows;
    rows.reserve(entries_.size());
    for (const CallLogEntry& e : entries_)
        rows.push_back({call_icon(e.type), e.name.empty() ? e.number : e.name,
                        e.name == e.number ? std::wstring() : e.number});
    list_.set_rows(std::move(rows));
}

std::wstring HistoryPage::selected_number() const
{
    const int i = list_.selection();
    return i >= 0 && i < static_cast<int>(entries_.size()) ? entries_[i].number : std::wstring();
}

intptr_t HistoryPage::handle_message(const platform::Message& message)
{
    if (const auto handled = hub_.number_list_message(message, selected_number(),
                                                      StringId::CALL_HISTORY_ERROR_NO_NUMBER))
        return *handled;
    return VirtualDialog::handle_message(message);
}

// ---- Friends list

FriendsList::FriendsList(int id, MainScreens& hub) : AnimatedControl(id), hub_(hub) {}

std::wstring FriendsList::empty_text() const
{
    FriendsService& service = hub_.service();
    if (!service.connected())
        return LoadResourceString(StringId::FRIENDS_LIST_CONNECTING);
    if (!service.logged_in())
        return LoadResourceString(StringId::FRIENDS_LIST_RETRIEVING);
    if (hub_.friends().count() > 0)
        return LoadResourceString(StringId::FRIENDS_LIST_NONE_ONLINE);
    return LoadResourceString(StringId::FRIENDS_LIST_NONE_ADDED);
}

void FriendsList::refresh()
{
    const bool empty = hub_.friends().shownCount() == 0;
    if (empty && !running())
        start(kAnimationMs, kAnimationMs);
    else if (!empty && running())
        stop();
    invalidate();
}

void FriendsList::paint(platform::Canvas& canvas, bool)
{
    const platform::Rect& r = rect();
    FriendsModel& model = hub_.friends();
    const int count = model.shownCount();
    if (count == 0) {
        const std::vector<std::wstring> lines =
            wrap_text(canvas, empty_text(), r.w - 8, theme::kTextFont);
        const int line_h = canvas.line_height(theme::kTextFont);
        int y = r.y + theme::kMargin;
        for (const std::wstring& line : lines) {
            canvas.text({r.x, y, r.w, line_h}, line, theme::kTextFont, theme::kDimText,
                        platform::Align::Center);
            y += line_h;
        }
        // Three dots, one of them lit by the animation's frame.
        for (int i = 0; i < 3; ++i) {
            const platform::Rect dot{r.x + r.w / 2 - 14 + i * 10, y + 6, 6, 6};
            if (i == frame())
                canvas.fill(dot, theme::kBarBottom);
            else
                canvas.frame(dot, theme::kFrame);
        }
        return;
    }
    const int selected = model.selected();
    int y = r.y;
    for (int i = model.firstShown(); i < count && y + kRowHeight <= r.bottom(); ++i) {
        const std::optional<Friend> f = model.friendAt(i);
        if (!f)
            break;
        const platform::Rect row{r.x, y, r.w, kRowHeight};
        if (i == selected)
            canvas.fill_gradient(row, theme::kSelectionTop, theme::kSelectionBottom);
        canvas.image(presence_icon(f->status), row.x + 2, row.y + 2);
        int x = row.x + 24;
        if (f->network != kNetworkService) {
            canvas.image(network_icon(f->network), x, row.y + 2);
            x += 22;
        }
        if (f->has_unread && f->is_new)
            canvas.image(image(ImageId::Messages), row.right() - 22, row.y + 2);
        canvas.text({x, row.y, row.right() - x - 24, row.h}, f->name, theme::kBoldFont,
                    theme::kText);
        y += kRowHeight;
        if (i != selected)
            continue;
        if (!f->status_text.empty()) {
            canvas.text({r.x + 24, y, r.w - 26, kStatusTextHeight}, f->status_text,
                        theme::kTextFont, theme::kDimText);
            y += kStatusTextHeight;
        }
        const ChatView::Lines& chat = hub_.chats().lines(f->jid);
        if (!chat.empty() || !f->messages.empty()) {
            const platform::Rect area{r.x + 2, y, r.w - 4, std::min(kChatHeight, r.bottom() - y)};
            canvas.fill(area, theme::kFieldBackground);
            ChatView::paint_tail(canvas, area, chat);
            y += area.h;
        }
    }
}

void FriendsList::describe(ControlView& view) const
{
    CustomControl::describe(view);
    FriendsModel& model = hub_.friends();
    const int count = model.shownCount();
    for (int i = 0; i < count; ++i)
        if (const auto f = model.friendAt(i))
            view.items.push_back(f->name);
    view.selection = model.selected();
    if (count == 0) {
        view.shown = empty_text();
    } else if (const auto f = model.friendAt(view.selection)) {
        view.text = f->name;
        view.shown = f->name;
    }
}

// ---- Friends page

FriendsPage::FriendsPage(MainScreens& hub)
    : VirtualDialog(LoadResourceString(StringId::FRIENDS_TITLE), kFriendsMenu), hub_(hub),
      list_(add<FriendsList>(kList, hub)), input_(add<TextBox>(kChatEdit, L""))
{
}

void FriendsPage::activate(bool first_time)
{
    refresh();
    VirtualDialog::activate(first_time);
    hub_.mark_shown_chat_read();
}

void FriendsPage::layout(const platform::Rect& client)
{
    VirtualDialog::layout(client);
    hub_.friends().setViewHeight(list_.rect().h);
}

void FriendsPage::refresh()
{
    list_.refresh();
}

std::optional<Friend> FriendsPage::selected_friend()
{
    FriendsModel& model = hub_.friends();
    return model.friendAt(model.selected());
}

intptr_t FriendsPage::handle_message(const platform::Message& message)
{
    if (const uint16_t c = command_of(message))
        return command(c) || hub_.common_command(c, L"") ? 1 : 0;
    if (message.code == code(UiMessage::KeyDown)) {
        switch (static_cast<Key>(message.wparam)) {
        case Key::Up:
            hub_.friends().selectPrevious();
            return 1;
        case Key::Down:
            hub_.friends().selectNext();
            return 1;
        case Key::Action:
            // The action key sends what was typed; without text it does nothing.
            if (!input_.text().empty())
                command(ui::command(CommandId::SEND));
            return 1;
        case Key::Talk:
            call_selected();
            return 1;
        default:
            break;
        }
    }
    return VirtualDialog::handle_message(message);
}

void FriendsPage::call_selected()
{
    const auto f = selected_friend();
    if (!f) {
        hub_.error(StringId::FRIENDS_ERROR_NO_SELECTION_CHAT);
        return;
    }
    if (f->network != kNetworkService) {
        hub_.error(StringId::FRIENDS_ERROR_GATEWAY_CALL);
        return;
    }
    hub_.service().call(number_of(f->jid));
}

void FriendsPage::send()
{
    const auto f = selected_friend();
    if (!f) {
        hub_.error(StringId::FRIENDS_ERROR_NO_SELECTION_CHAT);
        return;
    }
    const std::wstring text = input_.text();
    if (text.empty())
        return;
    hub_.service().send_message(f->jid, text);
    hub_.chats().add_own(f->jid, text);
    input_.set_text(L"");
    list_.invalidate();
}

void FriendsPage::holler(const Friend& f)
{
    if (f.network != kNetworkService) {
        hub_.error(StringId::HOLLER_ERROR_NOT_VOKAR_FRIEND);
        return;
    }
    if (online(f.status)) {
        hub_.error(StringId::HOLLER_ERROR_ALREADY_ONLINE);
        return;
    }
    UiRoot& root = hub_.root();
    root.progress(LoadResourceString(StringId::PROGRESS_SENDING_HOLLER), kHollerProgressMenu,
                  [&root](uint16_t) { root.back(); });
    hub_.service().holler(f.jid);
}

bool FriendsPage::command(uint16_t command)
{
    using C = CommandId;
    const auto is = [command](C c) { return command == ui::command(c); };
    if (is(C::EDIT_IM_GATEWAYS)) {
        hub_.gateways().open();
        return true;
    }
    if (command < ui::command(C::SEND) || command > ui::command(C::ADD_FRIEND_YAHOO) ||
        is(C::FRIENDS_SETTINGS))
        return false;
    FriendsService& service = hub_.service();
    if (!service.connected()) {
        hub_.error(StringId::FRIENDS_ERROR_NOT_CONNECTED);
        return true;
    }
    // Presence and adding friends need no selection.
    if (is(C::STATUS_ONLINE) || is(C::STATUS_AWAY) || is(C::STATUS_BUSY)) {
        service.set_status(is(C::STATUS_ONLINE) ? kStatusAvailable
                           : is(C::STATUS_AWAY) ? kStatusAway
                                                : kStatusBusy);
        return true;
    }
    if (is(C::CUSTOM_STATUS)) {
        hub_.entry().ask(LoadResourceString(StringId::CUSTOM_STATUS_ENTRY_TITLE),
                         LoadResourceString(StringId::CUSTOM_STATUS_ENTRY_LABEL), L"",
                         [this](const std::wstring& text) {
                             if (text.empty()) {
                                 hub_.error(StringId::CUSTOM_STATUS_ERROR_EMPTY);
                                 return;
                             }
                             hub_.root().back();
                             hub_.service().set_status_text(text);
                             hub_.info(LoadResourceString(StringId::STATUS_CHANGED_PREFIX) + text);
                         });
        return true;
    }
    if (command >= ui::command(C::ADD_FRIEND_VOKAR)) {
        struct AddFriendEntry {
            C command;
            int network;
            std::optional<StringId> disabled;
        };
        static const AddFriendEntry kEntries[] = {
            {C::ADD_FRIEND_VOKAR, kNetworkService, std::nullopt},
            {C::ADD_FRIEND_AIM, kNetworkAim, StringId::GATEWAY_NOT_ENABLED_AIM},
            {C::ADD_FRIEND_GOOGLE, kNetworkGtalk, std::nullopt},
            {C::ADD_FRIEND_JABBER, kNetworkJabber, std::nullopt},
            {C::ADD_FRIEND_ICQ, kNetworkIcq, StringId::GATEWAY_NOT_ENABLED_ICQ},
            {C::ADD_FRIEND_MSN, kNetworkMsn, StringId::GATEWAY_NOT_ENABLED_MSN},
            {C::ADD_FRIEND_YAHOO, kNetworkYahoo, StringId::GATEWAY_NOT_ENABLED_YAHOO},
        };
        for (const AddFriendEntry& e : kEntries) {
            if (!is(e.command))
                continue;
            if (e.disabled && !hub_.gateway_enabled(e.network))
                hub_.error(*e.disabled);
            else
                hub_.add_friend().open(e.network);
            return true;
        }
        return false;
    }
    if (is(C::SEND)) {
        send();
        return true;
    }
    const auto f = selected_friend();
    if (!f) {
        hub_.error(is(C::VIEW_DETAILS) ? StringId::FRIENDS_ERROR_NO_SELECTION_DETAILS
                                       : StringId::FRIENDS_ERROR_NO_SELECTION_CHAT);
        return true;
    }
    const std::wstring jid = f->jid;
    switch (static_cast<C>(command)) {
    case C::FULL_SCREEN_CHAT:
        hub_.chat().open(jid, f->name);
        break;
    case C::VIEW_DETAILS:
        hub_.details().show(*f);
        break;
    case C::HOLLER_FRIEND:
        holler(*f);
        break;
    case C::CLEAR_CHAT:
        hub_.chats().clear(jid);
        list_.invalidate();
        break;
    case C::SET_NICKNAME:
        hub_.entry().ask(LoadResourceString(StringId::NICKNAME_ENTRY_TITLE),
                         LoadResourceString(StringId::NICKNAME_ENTRY_LABEL), f->name,
                         [this, jid](const std::wstring& name) {
                             if (name.empty()) {
                                 hub_.error(StringId::NICKNAME_ERROR_EMPTY);
                                 return;
                             }
                             hub_.root().back();
                             hub_.service().rename(jid, name);
                         });
        break;
    case C::REMOVE_FRIEND:
        hub_.question().ask(LoadResourceString(StringId::REMOVE_FRIEND_TITLE),
                            LoadResourceString(StringId::REMOVE_FRIEND_QUESTION_PREFIX) + f->name +
                                LoadResourceString(StringId::REMOVE_FRIEND_QUESTION_SUFFIX),
                            [this, jid] { hub_.service().remove(jid); });
        break;
    default:
        return false;
    }
    return true;
}

// ---- Main screen

MainScreen::MainScreen(MainScreens& hub)
    : hub_(hub), contacts_(add_page<ContactsPage>(hub)), history_(add_page<HistoryPage>(hub)),
      friends_(add_page<FriendsPage>(hub))
{
}

void MainScreen::activate(bool first_time)
{
    PagedScreen::activate(first_time);
    hub_.notices().main_screen_shown();
}

// ---- the screens together

// Loads the contacts and builds the history off the GUI thread, and hears of
// calls logged later; the GUI thread picks the results up on kMainDataReady.
class MainScreens::Loader final : public CallLogListener {
public:
    Loader(MainScreens& hub) : hub_(hub) {}
    ~Loader() override { stop(); }

    void start()
    {
        if (thread_.joinable())
            return;
        if (hub_.deps_.call_log) {
            hub_.deps_.call_log->set_listener(this);
            listening_ = true;
        }
        thread_ = platform::Thread([this] { run(); });
    }
    // Once stopped it no longer touches the call log, which may be gone.
    void stop()
    {
        if (std::exchange(listening_, false))
            hub_.deps_.call_log->set_listener(nullptr);
        thread_.join();
    }

    // Call log thread.
    void call_added(const CallLogEntry& entry) override
    {
        {
            std::lock_guard lock(mutex_);
            added_.push_back(entry);
        }
        platform::post_message(window_, kMainDataReady);
    }

    // GUI thread: hands over what arrived.
    void deliver()
    {
        std::optional<std::vector<CallLogEntry>> history;
        std::vector<CallLogEntry> added;
        {
            std::lock_guard lock(mutex_);
            history = std::exchange(history_, std::nullopt);
            added = std::exchange(added_, {});
        }
        MainScreen& main = hub_.main();
        main.contacts().refresh();
        for (const CallLogEntry& e : added)
            main.history().call_added(e);
        if (history)
            main.history().set_history(std::move(*history));
    }

    platform::Window window_;

private:
    void run()
    {
        hub_.deps_.contacts.load();
        platform::post_message(window_, kMainDataReady);
        if (!hub_.deps_.call_log)
            return;
        std::unique_ptr<CellularCallLog> none;
        CellularCallLog* cellular = hub_.deps_.cellular;
        if (!cellular) {
            none = make_empty_cellular_call_log();
            cellular = none.get();
        }
        auto history = hub_.deps_.call_log->build_history(*cellular, &hub_.deps_.contacts);
        {
            std::lock_guard lock(mutex_);
            history_ = std::move(history);
        }
        platform::post_message(window_, kMainDataReady);
    }

    MainScreens& hub_;
    std::mutex mutex_;
    std::optional<std::vector<CallLogEntry>> history_;
    std::vector<CallLogEntry> added_;
    bool listening_ = false; // GUI thread
    platform::Thread thread_;
};

MainScreens::MainScreens(UiRoot& root, Deps deps) : root_(root), deps_(std::move(deps))
{
    main_ = &root.add_screen<MainScreen>(*this);
    dialer_ = &root.add_screen<DialerScreen>(*this);
    gateways_ = &root.add_screen<EditGatewaysScreen>(*this);
    gateway_ = &root.add_screen<EditGatewayScreen>(*this);
    chat_ = &root.add_screen<FullScreenChatScreen>(*this);
    details_ = &root.add_screen<FriendDetailsScreen>();
    add_friend_ = &root.add_screen<AddFriendScreen>(*this);
    picker_ = &root.add_screen<ContactsPicker>(deps_.contacts);
    holler_ = &root.add_screen<HollerScreen>(*this);
    notices_ = std::make_unique<Notices>(*this);
    loader_ = std::make_unique<Loader>(*this);
    loader_->window_ = root.window();
}

MainScreens::~MainScreens()
{
    stop();
}

void MainScreens::start_loading()
{
    loader_->start();
}

void MainScreens::stop()
{
    loader_->stop();
}

std::optional<intptr_t> MainScreens::handle_event(const platform::Message& message)
{
    if (message.code == kMainDataReady) {
        loader_->deliver();
        return 0;
    }
    switch (static_cast<MessageCode>(message.code)) {
    case MessageCode::FriendsListChanged:
        // Sent after new messages too (a selection move sends only
        // FriendsModelChanged).
        sync_chats();
        [[fallthrough]];
    case MessageCode::FriendsModelChanged:
        main_->friends().refresh();
        chat_->refresh();
        mark_shown_chat_read();
        break;
    default:
        break;
    }
    return notices_->handle_event(message);
}

void MainScreens::sync_chats()
{
    FriendsModel& model = deps_.friends;
    const int n = model.shownCount();
    for (int i = 0; i < n; ++i)
        if (const auto f = model.friendAt(i))
            chats_.sync(*f);
}

void MainScreens::mark_shown_chat_read()
{
    FriendsModel& model = deps_.friends;
    const VirtualDialog* shown = root_.current();
    if (shown == chat_ && !chat_->jid().empty()) {
        model.markRead(chat_->jid());
    } else if (shown == main_ && &main_->page() == &main_->friends()) {
        if (const auto f = model.friendAt(model.selected()))
            model.markRead(f->jid);
    }
}

std::optional<intptr_t> MainScreens::number_list_message(const platform::Message& message,
                                                         const std::wstring& number,
                                                         StringId no_number)
{
    const uint16_t command = command_of(message);
    const bool talk =
        message.code == code(UiMessage::KeyDown) && static_cast<Key>(message.wparam) == Key::Talk;
    if (command == ui::command(CommandId::DIAL) || talk) {
        if (number.empty())
            error(no_number);
        else
            service().call(number);
        return 1;
    }
    if (command != 0)
        return common_command(command, number) ? 1 : 0;
    if (message.code == code(UiMessage::KeyDown)) {
        // A digit starts dialling a number.
        if (const wchar_t c = platform::key_char(static_cast<Key>(message.wparam))) {
            dialer().open(std::wstring(1, c));
            return 1;
        }
    }
    return std::nullopt;
}

bool MainScreens::common_command(uint16_t command, const std::wstring& number)
{
    switch (static_cast<CommandId>(command)) {
    case CommandId::EXIT_VOKAR:
        root_.end_dialog(kEndApplication);
        return true;
    case CommandId::HIDE:
        if (deps_.actions.hide)
            deps_.actions.hide();
        return true;
    case CommandId::SEND_SMS:
        if (deps_.actions.send_sms)
            deps_.actions.send_sms(number);
        return true;
    case CommandId::INVITE:
        if (deps_.actions.invite)
            deps_.actions.invite(number);
        return true;
    case CommandId::CHECK_BALANCE:
    case CommandId::SETTINGS:
    case CommandId::ABOUT:
    case CommandId::FRIENDS_SETTINGS:
        if (deps_.actions.other)
            deps_.actions.other(command);
        return true;
    default:
        return false;
    }
}

bool MainScreens::gateway_enabled(int network)
{
    return !disabled_gateways_.contains(network) && deps_.service.gateway_registered(network);
}

void MainScreens::register_gateway(int network, const std::wstring& user,
                                   const std::wstring& password)
{
    disabled_gateways_.erase(network);
    deps_.service.register_gateway(network, user, password);
}

void MainScreens::unregister_gateway(int network)
{
    disabled_gateways_.insert(network);
    deps_.service.unregister_gateway(network);
}

void MainScreens::error(StringId text)
{
    root_.message(LoadResourceString(text), MessageKind::Error);
}

void MainScreens::info(const std::wstring& text)
{
    root_.message(text, MessageKind::Information);
}

} // namespace vokar::ui
