#include "ui/screens/main_screen.h"

#include <gtest/gtest.h>

#include <set>

#include "account/settings_store.h"
#include "base/messages.h"
#include "tests/support/scratch.h"
#include "ui/screens/contacts_picker.h"
#include "ui/screens/dialer.h"
#include "ui/screens/friends_screens.h"
#include "ui/screens/gateway_screens.h"
#include "ui/screens/notices.h"
#include "ui/screens/simple_screens.h"
#include "ui/ui_messages.h"
#include "ui_driver.h"
#include "xmpp/jabber_event.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

class FakeBook final : public platform::AddressBook {
public:
    bool open() override { return true; }
    std::vector<platform::AddressBookContact> contacts() override
    {
        return {{L"Zoe", {{L"+15550001", 'm'}}}, {L"Adam", {{L"+15550002", 'w'}}}};
    }
    bool add_contact(const std::wstring&, const std::wstring&) override { return true; }
    std::vector<platform::AddressBookContact> sim_entries() override { return {}; }
};

// Records what the screens ask of the core.
class RecordingService final : public FriendsService {
public:
    bool connected() override { return is_connected; }
    bool logged_in() override { return is_logged_in; }
    bool gateway_registered(int network) override { return gateways.count(network) != 0; }
    void send_message(const std::wstring& jid, const std::wstring& text) override
    {
        log.push_back(L"send " + jid + L" " + text);
    }
    void holler(const std::wstring& jid) override { log.push_back(L"holler " + jid); }
    void rename(const std::wstring& jid, const std::wstring& name) override
    {
        log.push_back(L"rename " + jid + L" " + name);
    }
    void remove(const std::wstring& jid) override { log.push_back(L"remove " + jid); }
    void add(int network, const std::wstring& address) override
    {
        log.push_back(L"add " + std::to_wstring(network) + L" " + address);
    }
    void accept(const std::wstring& jid, const std::wstring&) override
    {
        log.push_back(L"accept " + jid);
    }
    void reject(const std::wstring& jid) override { log.push_back(L"reject " + jid); }
    void set_status(int status) override { log.push_back(L"status " + std::to_wstring(status)); }
    void set_status_text(const std::wstring& text) override { log.push_back(L"text " + text); }
    void register_gateway(int network, const std::wstring& user, const std::wstring&) override
    {
        log.push_back(L"register " + std::to_wstring(network) + L" " + user);
    }
    void unregister_gateway(int network) override
    {
        log.push_back(L"unregister " + std::to_wstring(network));
    }
    void call(const std::wstring& number) override { log.push_back(L"call " + number); }
    std::wstring normalize(const std::wstring& number) override
    {
        std::wstring digits;
        for (wchar_t c : number)
            if (c >= L'0' && c <= L'9')
                digits += c;
        return digits;
    }

    bool is_connected = true;
    bool is_logged_in = true;
    std::set<int> gateways;
    std::vector<std::wstring> log;
};

class MainScreenTest : public ::testing::Test {
protected:
    platform::OperatorConfig conf;
    SettingsStore settings{"/nonexistent/vokar-test/__settings", conf};
    FriendsModel model{settings, FriendsModel::Config{}};
    DeviceContacts contacts{std::make_unique<FakeBook>(), L"15555550100"};
    RecordingService service;
    const std::string dir = test::make_temp_directory("vokar-main-screen");
    CallLog call_log{dir + "/CallLog.txt"};
    UiDriver ui;
    EntryScreen& entry = ui.root().add_screen<EntryScreen>();
    QuestionScreen& question = ui.root().add_screen<QuestionScreen>();
    std::vector<std::wstring> sms;
    std::unique_ptr<MainScreens> hub;

    void SetUp() override
    {
        hub = std::make_unique<MainScreens>(
            ui.root(),
            MainScreens::Deps{
                .service = service,
                .friends = model,
                .contacts = contacts,
                .call_log = &call_log,
                .cellular = nullptr,
                .entry = entry,
                .question = question,
                .actions = {.hide = {},
                            .other = {},
                            .send_sms = [this](const std::wstring& n) { sms.push_back(n); },
                            .invite = {}}});
        ui.root().set_global_handler(
            [this](const platform::Message& m) { return hub->handle_event(m); });
        model.addWindow(ui.root().window());
        ui.root().show_screen(hub->main());
        ui.settle();
    }
    void TearDown() override
    {
        hub->stop();
        test::remove_directory(dir);
    }

    void show_friends()
    {
        hub->main().show(2);
        ui.settle();
    }
    // Runs a soft-key command as the options popup would.
    void command(CommandId c)
    {
        ui.root().dialog_proc({code(UiMessage::Command), ui::command(c), 0});
        ui.settle();
    }
    void changed()
    {
        ui.root().dialog_proc({code(MessageCode::FriendsListChanged), 0, 0});
        ui.settle();
    }
    // A copy of the control's view (empty when it is not shown).
    ControlView field(int id) const
    {
        const UiView v = ui.view();
        const ControlView* c = v.control(id);
        return c ? *c : ControlView{};
    }
    std::wstring friends_text() const { return field(FriendsPage::kList).shown; }
    void ok() { ui.press(Key::SoftLeft); }
};

TEST_F(MainScreenTest, PagesWrapBothWaysWithTheirTitlesAndMenus)
{
    EXPECT_EQ(ui.view().title, L"Vokar - Contacts");
    EXPECT_EQ(field(ContactsPage::kList).shown, L"No data");
    ui.press(Key::Left);
    EXPECT_EQ(ui.view().title, L"Vokar - Friends");
    EXPECT_EQ(ui.view().menu_id, 103);
    ui.press(Key::Right);
    ui.press(Key::Right);
    EXPECT_EQ(ui.view().title, L"Vokar - Call History");
    EXPECT_EQ(ui.view().menu_id, 102);
    ui.screenshot("call_history_empty");
}

TEST_F(MainScreenTest, DiallingFromEachPageChecksForANumber)
{
    ui.press(Key::SoftLeft); // Dial, no contacts yet
    EXPECT_EQ(ui.view().message_text, L"Please select a valid number");
    ok();
    contacts.load();
    hub->main().contacts().refresh();
    ui.settle();
    EXPECT_EQ(field(ContactsPage::kList).items, (std::vector<std::wstring>{L"Adam", L"Zoe"}));
    ui.screenshot("contacts_page");
    ui.press(Key::SoftLeft);
    EXPECT_EQ(service.log.back(), L"call +15550002");

    hub->main().show(1);
    ui.settle();
    ui.press(Key::SoftLeft);
    EXPECT_EQ(ui.view().message_text, L"Please enter a number");
    ok();
    hub->main().history().set_history({{L"Bob", L"+15551", 0, kCallMissed, false, false}});
    hub->main().history().call_added({L"+15552", L"+15552", 0, kCallOutgoing, false, false});
    ui.settle();
    EXPECT_EQ(field(HistoryPage::kList).items, (std::vector<std::wstring>{L"+15552", L"Bob"}));
    ui.screenshot("call_history");
    ui.press(Key::Talk);
    EXPECT_EQ(service.log.back(), L"call +15552");

    // A digit opens the dialer with it; Dial on an empty field is refused.
    ui.press(Key::Digit5);
    EXPECT_EQ(ui.view().title, L"Vokar - Touch Dialer");
    EXPECT_EQ(field(DialerScreen::kNumberEdit).text, L"5");
    ui.press(Key::Digit1);
    ui.screenshot("touch_dialer");
    command(CommandId::SEND_SMS);
    EXPECT_EQ(sms, std::vector<std::wstring>{L"51"});
    ui.press(Key::Back);
    ui.press(Key::Back);
    ui.press(Key::SoftLeft);
    EXPECT_EQ(ui.view().message_text, L"Please enter a number");
}

TEST_F(MainScreenTest, ContactsAndHistoryLoadOffTheGuiThreadAndNewCallsComeOnTop)
{
    call_log.add(L"+15550001", L"", kCallIncoming);
    hub->start_loading();
    EXPECT_TRUE(ui.wait_for(
        [](const UiView& v) { return v.control(ContactsPage::kList)->items.size() == 2; }));
    hub->main().show(1);
    EXPECT_TRUE(ui.wait_for([](const UiView& v) {
        return v.control(HistoryPage::kList)->items == std::vector<std::wstring>{L"Zoe"};
    }));
    call_log.add(L"+15559999", L"", kCallMissed);
    EXPECT_TRUE(ui.wait_for([](const UiView& v) {
        return v.control(HistoryPage::kList)->items ==
               std::vector<std::wstring>{L"+15559999", L"Zoe"};
    }));
}

TEST_F(MainScreenTest, FriendsPageStatusTextFollowsTheConnectionAndTheList)
{
    service.is_connected = false;
    show_friends();
    EXPECT_EQ(friends_text(), L"Connecting...");
    ui.screenshot("friends_connecting");
    service.is_connected = true;
    service.is_logged_in = false;
    changed();
    EXPECT_EQ(friends_text(), L"Retrieving data...");
    service.is_logged_in = true;
    changed();
    EXPECT_EQ(friends_text().rfind(L"No friends added yet.", 0), 0u);
    ui.screenshot("friends_none_added");
    settings.set(&Settings::show_offline_friends, false);
    model.onRosterItem(L"bob@vokar.test", L"Bob", kStatusOffline);
    changed();
    EXPECT_EQ(friends_text(), L"None of your friends are online");
    model.onPresence(L"bob@vokar.test", L"", kStatusAvailable);
    changed();
    EXPECT_EQ(field(FriendsPage::kList).items, std::vector<std::wstring>{L"Bob"});
}

TEST_F(MainScreenTest, FriendCommandsAreRefusedInOrderAndSendNothing)
{
    model.onRosterItem(L"bob@vokar.test", L"Bob", kStatusOffline);
    model.onPresence(L"bob@vokar.test", L"", kStatusAvailable);
    model.onRosterItem(L"amy\\40aol.com@aim.vokar.test", L"amy", kStatusOffline);
    show_friends();

    service.is_connected = false;
    command(CommandId::HOLLER_FRIEND);
    EXPECT_EQ(ui.view().message_text, L"Please wait for Vokar to finish connecting");
    ok();
    service.is_connected = true;
    command(CommandId::VIEW_DETAILS);
    EXPECT_EQ(ui.view().message_text, L"No friend is currently selected");
    ok();

    ui.press(Key::Down); // Bob, online
    command(CommandId::HOLLER_FRIEND);
    EXPECT_EQ(ui.view().message_text,
              L"You cannot send a holler to someone that is already online");
    ok();
    ui.press(Key::Down); // amy, through the AIM gateway
    command(CommandId::HOLLER_FRIEND);
    EXPECT_EQ(ui.view().message_text, L"This feature can only be used on Vokar friends");
    ok();
    ui.press(Key::Talk);
    EXPECT_EQ(ui.view().message_text,
              L"Calls to non-vokar messaging contacts are not yet supported");
    ok();
    EXPECT_TRUE(service.log.empty());

    model.onPresence(L"bob@vokar.test", L"", kStatusOffline);
    settings.set(&Settings::show_offline_friends, true);
    changed();
    model.select(1); // Bob, offline now: amy and Bob sort by name
    command(CommandId::HOLLER_FRIEND);
    EXPECT_EQ(ui.view().title, L"Vokar - Logging in");
    EXPECT_EQ(service.log, std::vector<std::wstring>{L"holler bob@vokar.test"});
    const std::string answer = "Holler sent";
    ui.root().dialog_proc(
        {code(MessageCode::HollerAnswered), reinterpret_cast<uintptr_t>(&answer), 0});
    ui.settle();
    EXPECT_EQ(ui.view().message_text, L"Holler sent");
    ok();
    EXPECT_EQ(ui.view().title, L"Vokar - Friends");
}

TEST_F(MainScreenTest, AddFriendChecksTheGatewayAndTheAddress)
{
    show_friends();
    command(CommandId::ADD_FRIEND_AIM);
    EXPECT_EQ(ui.view().message_text, L"Aim gateway is not enabled. Check Friends Settings");
    ok();
    EXPECT_EQ(ui.view().title, L"Vokar - Friends");

    service.gateways.insert(kNetworkAim);
    command(CommandId::ADD_FRIEND_AIM);
    EXPECT_EQ(field(AddFriendScreen::kCaption).text, L"Add AIM Friend");
    EXPECT_EQ(field(AddFriendScreen::kAddressEdit).caption, L"AIM username");
    command(CommandId::OPTIONS_CANCEL);

    command(CommandId::ADD_FRIEND_VOKAR);
    EXPECT_EQ(field(AddFriendScreen::kAddressEdit).caption, L"Vokar number");
    ui.type(L"-");
    command(CommandId::ADD_FRIEND);
    EXPECT_EQ(ui.view().message_text, L"Please enter a valid number or address");
    ok();
    for (Key k : {Key::Digit5, Key::Digit5, Key::Digit0, Key::Digit1, Key::Digit9})
        ui.press(k);
    ui.screenshot("add_friend");
    command(CommandId::ADD_FRIEND);
    EXPECT_EQ(ui.view().message_text,
              L"Friend has been added, they must now confirm you as a friend");
    EXPECT_EQ(service.log, std::vector<std::wstring>{L"add 5 55019"});
    ok();
    EXPECT_EQ(ui.view().title, L"Vokar - Friends");

    // Insert from Contacts fills the field.
    contacts.load();
    command(CommandId::ADD_FRIEND_JABBER);
    command(CommandId::INSERT_FROM_CONTACTS);
    EXPECT_EQ(ui.view().title, L"Vokar - Contacts");
    EXPECT_EQ(ui.view().menu_id, ContactsPicker::kCancelMenu);
    ui.screenshot("contacts_picker");
    ui.press(Key::Down);
    command(CommandId::SELECT);
    EXPECT_EQ(ui.view().title, L"Vokar - Add Friend");
    EXPECT_EQ(field(AddFriendScreen::kAddressEdit).text, L"+15550001");
}

TEST_F(MainScreenTest, RemoveNicknameAndStatusAskFirst)
{
    model.onRosterItem(L"bob@vokar.test", L"Bob", kStatusOffline);
    show_friends();
    ui.press(Key::Down);
    command(CommandId::REMOVE_FRIEND);
    EXPECT_EQ(ui.view().title, L"Remove Friend?");
    EXPECT_EQ(field(QuestionScreen::kText).text,
              L"Are you sure you want to remove Bob from your friends list?");
    ui.press(Key::SoftRight); // No
    EXPECT_TRUE(service.log.empty());
    EXPECT_EQ(field(FriendsPage::kList).items, std::vector<std::wstring>{L"Bob"});
    command(CommandId::REMOVE_FRIEND);
    ui.press(Key::SoftLeft); // Yes
    EXPECT_EQ(service.log, std::vector<std::wstring>{L"remove bob@vokar.test"});

    command(CommandId::SET_NICKNAME);
    EXPECT_EQ(ui.view().title, L"Edit nickname");
    ui.press(Key::Back);
    ui.press(Key::Back);
    ui.press(Key::Back);
    ok();
    EXPECT_EQ(ui.view().message_text, L"Please enter a valid nickname");
    ok();
    ui.type(L"Bobby");
    ok();
    EXPECT_EQ(service.log.back(), L"rename bob@vokar.test Bobby");

    command(CommandId::CUSTOM_STATUS);
    EXPECT_EQ(ui.view().title, L"Set Custom Status");
    ok();
    EXPECT_EQ(ui.view().message_text, L"Please enter a status message");
    ok();
    ui.type(L"At lunch");
    ok();
    EXPECT_EQ(ui.view().message_text, L"Status changed to At lunch");
    EXPECT_EQ(service.log.back(), L"text At lunch");
    ok();
    command(CommandId::STATUS_AWAY);
    EXPECT_EQ(service.log.back(), L"status 2");
}

TEST_F(MainScreenTest, ChatInlineAndFullScreenKeepsBothSidesInOrder)
{
    model.onRosterItem(L"bob@vokar.test", L"Bob", kStatusOffline);
    model.onPresence(L"bob@vokar.test", L"Out ( www.vokar.test - talk for free )", 1);
    show_friends();
    ui.press(Key::Down);
    ui.type(L"hi bob");
    ui.press(Key::SoftLeft); // Send
    model.onMessage(L"bob@vokar.test", L"hello");
    changed();
    EXPECT_EQ(service.log, std::vector<std::wstring>{L"send bob@vokar.test hi bob"});
    EXPECT_EQ(hub->chats().lines(L"bob@vokar.test"),
              (ChatView::Lines{L"Me: hi bob", L"Bob: hello"}));
    ui.screenshot("friends_inline_chat");

    command(CommandId::FULL_SCREEN_CHAT);
    EXPECT_EQ(ui.view().title, L"Vokar - Full Screen Chat");
    model.onMessage(L"bob@vokar.test", L"still there?");
    changed();
    ui.type(L"yes");
    ui.press(Key::SoftLeft);
    EXPECT_EQ(field(FullScreenChatScreen::kChat).items,
              (std::vector<std::wstring>{L"Me: hi bob", L"Bob: hello", L"Bob: still there?",
                                         L"Me: yes"}));
    ui.screenshot("full_screen_chat");
    ui.press(Key::SoftRight); // Back
    command(CommandId::VIEW_DETAILS);
    EXPECT_EQ(field(FriendDetailsScreen::kPresence).text, L"Available - Out");
    ui.screenshot("friend_details");
}

TEST_F(MainScreenTest, UnreadMarkGoesOnlyOnceTheChatIsSeen)
{
    model.onRosterItem(L"amy@vokar.test", L"Amy", kStatusAvailable);
    model.onRosterItem(L"bob@vokar.test", L"Bob", kStatusAvailable);
    const auto unread = [&] { return model.find(L"bob@vokar.test")->has_unread; };
    show_friends();
    model.select(0); // Amy
    model.onMessage(L"bob@vokar.test", L"hello");
    changed();
    EXPECT_TRUE(unread());

    // Selected on the Friends page, its inline chat is shown.
    ui.press(Key::Down);
    ASSERT_EQ(model.friendAt(model.selected())->name, L"Bob");
    EXPECT_FALSE(unread());

    // Still selected, but on another page: unread until the Friends page is back.
    hub->main().show(0);
    ui.settle();
    model.onMessage(L"bob@vokar.test", L"are you there?");
    changed();
    EXPECT_TRUE(unread());
    show_friends();
    EXPECT_FALSE(unread());

    // Full Screen Chat shows what comes while it is open.
    command(CommandId::FULL_SCREEN_CHAT);
    ASSERT_EQ(ui.view().title, L"Vokar - Full Screen Chat");
    model.onMessage(L"bob@vokar.test", L"again");
    changed();
    EXPECT_FALSE(unread());
}

TEST_F(MainScreenTest, GatewaysAreEditedAndDisabled)
{
    service.gateways.insert(kNetworkMsn);
    show_friends();
    command(CommandId::EDIT_IM_GATEWAYS);
    EXPECT_EQ(ui.view().title, L"Vokar - Edit Gateways");
    EXPECT_EQ(field(EditGatewaysScreen::kList).items.front(), L"MSN");
    ui.screenshot("edit_gateways");
    ui.press(Key::Down); // Yahoo
    ui.press(Key::SoftLeft);
    EXPECT_EQ(field(EditGatewayScreen::kCaption).text, L"Yahoo Gateway");
    ui.type(L"me");
    ui.press(Key::SoftLeft);
    EXPECT_EQ(ui.view().message_text, L"Please enter a valid username and password");
    ok();
    ui.press(Key::Down);
    ui.type(L"secret");
    ui.screenshot("edit_gateway");
    ui.press(Key::SoftLeft);
    EXPECT_EQ(ui.view().message_text,
              L"Gateway details set, this may take some time to take effect");
    ok();
    command(CommandId::DISABLE_ACCOUNT);
    EXPECT_EQ(ui.view().message_text, L"Gateway disabled");
    EXPECT_EQ(service.log, (std::vector<std::wstring>{L"register 3 me", L"unregister 3"}));
    ok();

    // A disabled gateway reads as off although the core still lists it.
    ui.press(Key::Up); // MSN
    command(CommandId::DISABLE_ACCOUNT);
    ok();
    command(CommandId::GATEWAYS_BACK);
    command(CommandId::ADD_FRIEND_MSN);
    EXPECT_EQ(ui.view().message_text, L"MSN gateway is not enabled. Check Friends Settings");
}

TEST_F(MainScreenTest, GlobalNoticesShowWhateverScreenIsCurrent)
{
    const auto send = [this](MessageCode c, const void* p) {
        ui.root().dialog_proc({code(c), reinterpret_cast<uintptr_t>(p), 0});
        ui.settle();
    };
    send(MessageCode::FriendRequestRejected, nullptr);
    EXPECT_EQ(ui.view().message_text, L"Friend request rejected");
    ok();
    const std::wstring name = L"Bob: "; // the friend's chat-line prefix
    send(MessageCode::HollerFriendOnline, &name);
    EXPECT_EQ(ui.view().title, L"Holler");
    EXPECT_EQ(field(HollerScreen::kHeading).text, L"Bob is now online.");
    ui.press(Key::SoftRight);

    model.onRosterItem(L"bob@vokar.test", L"Bob", kStatusOffline);
    const std::vector<std::string> senders{"bob", "eve@vokar.test"};
    send(MessageCode::HollersRetrieved, &senders);
    EXPECT_EQ(ui.view().title, L"Vokar - Holler");
    EXPECT_EQ(field(HollerScreen::kSenders).items,
              (std::vector<std::wstring>{L"Bob", L"eve@vokar.test"}));
    ui.screenshot("holler");
    ui.press(Key::SoftLeft); // Chat
    EXPECT_EQ(ui.view().title, L"Vokar - Full Screen Chat");
    ui.press(Key::SoftRight);

    JabberEvent failure;
    failure.jid = "msn.vokar.test";
    failure.text = "Not registered";
    send(MessageCode::GatewayMessageFailed, &failure);
    EXPECT_EQ(ui.view().message_text, L"MSN Gateway: Not registered");
    ok();

    // A pending request is asked about once; No rejects it.
    model.onPresence(L"eve@vokar.test", L"", kStatusPending);
    ui.settle();
    EXPECT_EQ(field(FriendRequestScreen::kText).text, L"Accept this person as your friend?");
    ui.press(Key::SoftRight);
    model.remove(L"eve@vokar.test"); // as the core does on a rejection
    changed();
    EXPECT_EQ(service.log, std::vector<std::wstring>{L"reject eve@vokar.test"});
    EXPECT_NE(ui.view().title, L"eve");
    // A new request after the answer is asked about again.
    model.onPresence(L"eve@vokar.test", L"", kStatusPending);
    ui.settle();
    EXPECT_EQ(ui.view().title, L"eve");
    ui.press(Key::SoftLeft);
    EXPECT_EQ(service.log.back(), L"accept eve@vokar.test");
    model.onPresence(L"eve@vokar.test", L"", kStatusOffline); // as the core does

    // Notices during the login's progress wait for the main screen, which
    // replaces it; Yes to the import question opens the gateways.
    ui.root().progress(L"Logging in", 144, {});
    ui.settle();
    send(MessageCode::AskImportAccounts, nullptr);
    send(MessageCode::HollersRetrieved, &senders);
    EXPECT_EQ(ui.view().title, L"Vokar - Logging in");
    ui.root().reset_to_screen(hub->main());
    ui.settle();
    EXPECT_EQ(ui.view().title, L"Vokar - Holler");
    ui.press(Key::SoftRight); // Close
    EXPECT_EQ(ui.view().title, L"Instant Messaging");
    ui.press(Key::SoftLeft);
    EXPECT_EQ(ui.view().title, L"Vokar - Edit Gateways");
}

TEST(ChatLogTest, PicksUpOnlyNewMessagesWhenTheModelDropsItsOldest)
{
    ChatLog log;
    Friend f;
    f.jid = L"bob@vokar.test";
    f.display_name = L"Bob: ";
    for (int i = 0; i < 30; ++i)
        f.messages.push_back({true, L"m" + std::to_wstring(i)});
    EXPECT_TRUE(log.sync(f));
    log.add_own(f.jid, L"ok");
    // Two more arrive; the model keeps the last thirty.
    f.messages.erase(f.messages.begin(), f.messages.begin() + 2);
    f.messages.push_back({true, L"m30"});
    f.messages.push_back({true, L"m31"});
    EXPECT_TRUE(log.sync(f));
    EXPECT_FALSE(log.sync(f));
    const auto& lines = log.lines(f.jid);
    ASSERT_EQ(lines.size(), 33u);
    EXPECT_EQ(lines[30], L"Me: ok");
    EXPECT_EQ(lines[32], L"Bob: m31");
    log.clear(f.jid);
    EXPECT_FALSE(log.sync(f));
    EXPECT_TRUE(log.lines(f.jid).empty());
}

} // namespace
} // namespace vokar::ui::testing
