#include "core/friends_model.h"

#include <gtest/gtest.h>

#include "account/settings_store.h"
#include "base/messages.h"
#include "platform/sound.h"
#include "xmpp/jabber_event.h"

namespace vokar {
namespace {

class RecordingSound : public platform::SoundBackend {
public:
    bool play(std::wstring_view alias) override
    {
        played.emplace_back(alias);
        return true;
    }
    std::vector<std::wstring> played;
};

class FriendsModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window_ = pump_.create_window([this](const platform::Message& m) -> intptr_t {
            if (m.code == code(MessageCode::FriendsModelChanged))
                ++changes_;
            return 0;
        });
        testling_.addWindow(window_);
        platform::set_sound_backend(sound_);
    }
    void TearDown() override { platform::set_sound_backend(nullptr); }

    std::vector<std::wstring> shown_names()
    {
        std::vector<std::wstring> out;
        for (int i = 0; i < testling_.shownCount(); ++i)
            out.push_back(testling_.friendAt(i)->name);
        return out;
    }

    platform::OperatorConfig conf_;
    SettingsStore settings_{"/nonexistent/vokar-test/__settings", conf_};
    FriendsModel testling_{settings_, FriendsModel::Config{}};
    platform::MessagePump pump_;
    platform::Window window_;
    int changes_ = 0;
    std::shared_ptr<RecordingSound> sound_ = std::make_shared<RecordingSound>();
};

TEST_F(FriendsModelTest, OrderByStatusThenUnreadThenOwnUsersThenName)
{
    testling_.onRosterItem(L"zed@vokar.test", L"zed", 4);
    testling_.onRosterItem(L"Amy@vokar.test", L"amy", 4);
    testling_.onRosterItem(L"bob@msn.vokar.test", L"Bob", 4);
    testling_.onRosterItem(L"carl@vokar.test", L"Carl", 4);
    testling_.onRosterItem(L"dana@vokar.test", L"Dana", 4);
    testling_.onRosterItem(L"eve@vokar.test", L"Eve", 5);
    testling_.onPresence(L"bob@msn.vokar.test", L"", 1);
    testling_.onPresence(L"carl@vokar.test", L"", 1);
    testling_.onPresence(L"dana@vokar.test", L"", 1);
    testling_.onPresence(L"zed@vokar.test", L"", 2);
    testling_.onMessage(L"dana@vokar.test", L"hello");
    testling_.onPresence(L"dana@vokar.test", L"", 1); // re-sorts with the unread flag
    EXPECT_EQ(shown_names(),
              (std::vector<std::wstring>{L"Dana", L"Carl", L"Bob", L"zed", L"amy", L"Eve"}));
    EXPECT_EQ(changes_, 11) << "every change but the message is announced";
}

TEST_F(FriendsModelTest, HidingOfflineKeepsThoseWithUnreadMessages)
{
    settings_.set(&Settings::show_offline_friends, false);
    testling_.onRosterItem(L"a@vokar.test", L"A", 4);
    testling_.onRosterItem(L"b@vokar.test", L"B", 5);
    testling_.onRosterItem(L"c@vokar.test", L"C", 4);
    testling_.onPresence(L"c@vokar.test", L"", 2);
    testling_.onMessage(L"a@vokar.test", L"are you there?");
    testling_.onPresence(L"b@vokar.test", L"", 5);
    EXPECT_EQ(shown_names(), (std::vector<std::wstring>{L"C", L"A"}));
}

TEST_F(FriendsModelTest, PresenceCreatesOnlyRequestsAndPendings)
{
    testling_.onPresence(L"ghost@vokar.test", L"", 4);
    EXPECT_EQ(testling_.shownCount(), 0);
    testling_.onPresence(L"newbie@vokar.test", L"", 5);
    testling_.onPresence(L"pat\\40hotmail.test@msn.vokar.test", L"", 0);
    const auto requested = testling_.find(L"newbie@vokar.test");
    ASSERT_TRUE(requested);
    EXPECT_EQ(requested->name, L"newbie");
    EXPECT_EQ(requested->network, 5);
    const auto gateway = testling_.find(L"pat\\40hotmail.test@msn.vokar.test");
    ASSERT_TRUE(gateway);
    EXPECT_EQ(gateway->name, L"pat");
    EXPECT_EQ(gateway->network, 1);
    EXPECT_EQ(testling_.network_of(L"x@jabber.example"), 6);
}

TEST_F(FriendsModelTest, MessagesKeepTheLastThirtyAndBeepWhenAsked)
{
    testling_.onRosterItem(L"bob@vokar.test", L"Bob", 1);
    for (int i = 1; i <= 31; ++i)
        testling_.onMessage(L"bob@vokar.test", std::to_wstring(i));
    auto bob = testling_.find(L"bob@vokar.test");
    ASSERT_EQ(bob->messages.size(), 30u);
    EXPECT_EQ(bob->messages.front().text, L"2");
    EXPECT_EQ(bob->messages.back().text, L"31");
    EXPECT_TRUE(bob->has_unread);
    EXPECT_EQ(sound_->played.size(), 31u);
    EXPECT_EQ(sound_->played[0], L"ZuroVaro");
    settings_.set(&Settings::message_alert, false);
    testling_.onMessage(L"bob@vokar.test", L"quiet");
    testling_.onMessage(L"nobody@vokar.test", L"ignored");
    EXPECT_EQ(sound_->played.size(), 31u);
}

TEST_F(FriendsModelTest, TaglinesAreCutOnlyWhereTheyFit)
{
    testling_.onRosterItem(L"a@vokar.test", L"A", 1);
    testling_.onRosterItem(L"b@msn.vokar.test", L"B", 1);
    struct Case {
        const wchar_t* jid;
        std::wstring text;
        std::wstring shown;
        bool chat_only;
    } cases[] = {
        {L"a@vokar.test", L"Out ( www.vokar.test - talk for free )", L"Out", false},
        {L"a@vokar.test", L"Lunch ( www.vokar.test - chat for free )", L"Lunch", true},
        {L"b@msn.vokar.test", L"Lunch ( www.vokar.test - chat for free )", L"Lunch", false},
        {L"a@vokar.test", L"( www.vokar.test - talk for free )",
         L"( www.vokar.test - talk for free )",
         false}, // shorter than the tagline with its space: left whole
        {L"a@vokar.test", L"plain words", L"plain words", false},
    };
    for (const auto& c : cases) {
        testling_.onPresence(c.jid, c.text, 1);
        const auto f = testling_.find(c.jid);
        EXPECT_EQ(f->status_text, c.shown);
        EXPECT_EQ(f->chat_only, c.chat_only);
    }
}

TEST_F(FriendsModelTest, UnnamedRosterUpdateKeepsTheDerivedName)
{
    testling_.onRosterItem(L"15550102@vokar.test", L"15550102@vokar.test", 5);
    testling_.onRosterItem(L"15550102@vokar.test", L"15550102@vokar.test", 4);
    EXPECT_EQ(testling_.find(L"15550102@vokar.test")->name, L"15550102");
    testling_.onRosterItem(L"15550102@vokar.test", L"Pat", 4);
    EXPECT_EQ(testling_.find(L"15550102@vokar.test")->name, L"Pat");
}

TEST_F(FriendsModelTest, DisplayNames)
{
    EXPECT_EQ(FriendsModel::display_name_for(L"Al Smithsonian"), L"Al: ");
    EXPECT_EQ(FriendsModel::display_name_for(L"Maximilianuss"), L"Maximili: ");
    EXPECT_EQ(FriendsModel::display_name_for(L"Alice"), L"Alice: ");
    EXPECT_EQ(FriendsModel::display_name_for(L" leading space"), L" leading: ");
    testling_.onRosterItem(L"a@vokar.test", L"", 1);
    EXPECT_EQ(testling_.find(L"a@vokar.test")->display_name, L"a: ");
    testling_.onRosterItem(L"a@vokar.test", L"Annabelle Lee", 1);
    EXPECT_EQ(testling_.find(L"a@vokar.test")->display_name, L"Annabell: ");
}

TEST_F(FriendsModelTest, SelectionWrapsScrollsAndFollowsItsFriend)
{
    for (wchar_t c = L'a'; c <= L'j'; ++c)
        testling_.onRosterItem(std::wstring(1, c) + L"@vokar.test", std::wstring(1, c), 1);
    testling_.setViewHeight(24 * 5); // four rows
    testling_.selectNext();
    EXPECT_EQ(testling_.selected(), 0);
    for (int i = 0; i < 5; ++i)
        testling_.selectNext();
    EXPECT_EQ(testling_.selected(), 5);
    EXPECT_EQ(testling_.rowsShown(), 4);
    EXPECT_EQ(testling_.firstShown(), 2);
    for (int i = 0; i < 4; ++i)
        testling_.selectNext();
    EXPECT_EQ(testling_.selected(), 9);
    testling_.selectNext();
    EXPECT_EQ(testling_.selected(), 0) << "down from the last row wraps to the top";
    EXPECT_EQ(testling_.firstShown(), 0);
    testling_.selectPrevious();
    EXPECT_EQ(testling_.selected(), 9);

    // A re-sort keeps the selected friend selected.
    testling_.select(3);
    testling_.onPresence(L"a@vokar.test", L"", 2); // a moves to the end
    EXPECT_EQ(testling_.friendAt(testling_.selected())->name, L"d");
    testling_.remove(L"d@vokar.test");
    EXPECT_EQ(testling_.friendAt(testling_.selected())->name, L"c") << "the row above";

    testling_.removeNetwork(5);
    EXPECT_EQ(testling_.shownCount(), 0);
    testling_.selectNext();
    EXPECT_EQ(testling_.selected(), -1);
}

TEST_F(FriendsModelTest, RemovalsKeepTheSelectionOnAFriendThatIsStillThere)
{
    struct Case {
        const char* name;
        int select;
        const wchar_t* remove; // a JID, or empty to remove the msn network
        const wchar_t* selected_after;
    } cases[] = {
        {"an unselected friend above", 1, L"a@vokar.test", L"B"},
        {"an unselected friend below", 0, L"c@msn.vokar.test", L"A"},
        {"the selected last friend", 2, L"c@msn.vokar.test", L"B"},
        {"the network of the selected last friend", 2, L"", L"A"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FriendsModel model(settings_, FriendsModel::Config{});
        model.onRosterItem(L"a@vokar.test", L"A", 1);
        model.onRosterItem(L"b@vokar.test", L"B", 1);
        model.onRosterItem(L"c@msn.vokar.test", L"C", 1);
        model.select(c.select);
        if (std::wstring(c.remove).empty())
            model.removeNetwork(kNetworkMsn);
        else
            model.remove(c.remove);
        ASSERT_GE(model.selected(), 0);
        ASSERT_LT(model.selected(), model.shownCount());
        EXPECT_EQ(model.friendAt(model.selected())->name, c.selected_after);
    }
}

} // namespace
} // namespace vokar
