// The account web API against the operator's own web service and XMPP
// server: what the requests change on the server and in the settings.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <mutex>

#include "account/settings_store.h"
#include "tests/support/full_stack.h"
#include "tools/operator/accounts/account_store.h"
#include "webapi/account_web_api.h"

namespace vokar {
namespace {

namespace fs = std::filesystem;
using Calls = std::vector<std::wstring>;

// The final messages, e.g. "info Message sent" or "error Service unavailable at present".
class MessageLog : public WebRequestUi {
public:
    void show_progress(const std::wstring&, std::function<void(int)>) override {}
    void hide_progress() override {}
    void show_message(const std::wstring& text, bool error, MessagePlacement) override
    {
        std::lock_guard lock(mutex_);
        messages_.push_back((error ? L"error " : L"info ") + text);
    }
    Calls messages()
    {
        std::lock_guard lock(mutex_);
        return messages_;
    }

private:
    std::mutex mutex_;
    Calls messages_;
};

class WebServiceIntegration : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::FullStackOptions options;
        // The SIP front listens on the stack's own free port; STUN is not run.
        options.extra_config = {{"stun_port", "13478"}, {"sip_domain", "sip.example.test"}};
        stack_ = std::make_unique<test::FullStack>(options);
        ASSERT_TRUE(stack_->start()) << stack_->error();
        std::string pattern = (fs::temp_directory_path() / "vokar-webapi-XXXXXX").string();
        ASSERT_TRUE(::mkdtemp(pattern.data()));
        dir_ = pattern;
        // Every default endpoint, the web service's among them, is the stack's.
        settings_ = std::make_unique<SettingsStore>(dir_ + "/__settings", stack_->config());
        settings_->set(&Settings::username, L"+alice");
        settings_->set(&Settings::password, L"alice-pass");
        WebBearer bearer{[] { return true; }, [] { return std::string("127.0.0.1"); }};
        api_ = std::make_unique<AccountWebApi>(*settings_, stack_->config(), bearer, &ui_);
    }
    void TearDown() override
    {
        api_.reset();
        if (!dir_.empty())
            fs::remove_all(dir_);
    }

    void finish() { ASSERT_TRUE(api_->wait_idle(15000)); }

    std::vector<operatord::OutboxMessage> outbox()
    {
        std::string error;
        auto store = operatord::AccountStore::open(stack_->account_db(), &error);
        std::vector<operatord::OutboxMessage> rows;
        EXPECT_TRUE(store && store->outbox(&rows, &error)) << error;
        return rows;
    }

    std::unique_ptr<test::FullStack> stack_;
    std::string dir_;
    std::unique_ptr<SettingsStore> settings_;
    MessageLog ui_;
    std::unique_ptr<AccountWebApi> api_;
};

TEST_F(WebServiceIntegration, FetchServersFillsTheFourListsAndSavesThem)
{
    settings_->server_list(SettingsStore::kSipList).append({"old.example.test", 5060});
    settings_->server_list(SettingsStore::kStunList).append({"old.example.test", 3478});
    api_->fetch_servers();
    finish();

    const auto& c = stack_->config();
    const std::vector<std::vector<ServerEndpoint>> expected = {
        {{"127.0.0.1", c.sip_port}},
        {{"127.0.0.1", c.xmpp_port}},
        {{"127.0.0.1", c.web_port}},
        {{"127.0.0.1", 13478}},
    };
    SettingsStore saved(settings_->path(), c);
    for (SettingsStore* store : {settings_.get(), &saved}) {
        for (size_t list = 0; list < expected.size(); ++list)
            EXPECT_EQ(store->server_list(list).entries(), expected[list]) << "list " << list;
        EXPECT_EQ(store->get(&Settings::domain), "sip.example.test");
    }
    EXPECT_TRUE(ui_.messages().empty());
}

TEST_F(WebServiceIntegration, SendingAnSmsPutsExactlyOneRowInTheOutbox)
{
    std::atomic<int> sent{0};
    api_->send_sms(L"+27831110000", L"Caf\u00e9 at 8? 50%-off & more ", [&] { ++sent; });
    finish();
    EXPECT_EQ(ui_.messages(), Calls{L"info Message sent"});
    EXPECT_EQ(sent, 1);
    const auto rows = outbox();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].sender, "alice");
    EXPECT_EQ(rows[0].recipient, "27831110000");
    EXPECT_EQ(rows[0].text, "Caf\xc3\xa9 at 8? 50%-off & more"); // one trailing space trimmed
    EXPECT_FALSE(rows[0].invite);

    api_->send_invitation(L"27831110001");
    api_->check_balance();
    finish();
    const auto calls = ui_.messages();
    EXPECT_NE(std::find(calls.begin(), calls.end(), L"info Invite sent"), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), L"info $ 5.00"), calls.end());
    ASSERT_EQ(outbox().size(), 2u);
    EXPECT_TRUE(outbox()[1].invite);
}

TEST_F(WebServiceIntegration, AWrongPasswordIsServiceUnavailableAndQueuesNothing)
{
    settings_->set(&Settings::password, L"alice-pass ");
    std::atomic<int> sent{0};
    api_->send_sms(L"27831110000", L"hello", [&] { ++sent; });
    finish();
    EXPECT_EQ(ui_.messages(), Calls{L"error Service unavailable at present"});
    EXPECT_EQ(sent, 0);
    EXPECT_TRUE(outbox().empty());
}

TEST_F(WebServiceIntegration, SignUpMakesAnAccountThatLogsIn)
{
    // Characters that would break the request or change the password unless
    // the client encodes them and the service decodes them.
    const std::wstring password = L"p@ss w+rd&countryCode=1%41";
    api_->create_account(L"+27834445555", password, L"Zo\u00eb", L"zoe@example.test", L"27");
    finish();
    EXPECT_EQ(ui_.messages(), Calls{L"info Welcome to Vokar! Your account 27834445555 is ready."});
    EXPECT_TRUE(stack_->can_log_in("27834445555", "p@ss w+rd&countryCode=1%41"));
    EXPECT_FALSE(stack_->can_log_in("27834445555", "p@ss"));

    api_->create_account(L"27834445555", L"other", L"", L"", L"27");
    finish();
    EXPECT_EQ(ui_.messages().back(), L"error Account creation failed");
}

} // namespace
} // namespace vokar
