#include "webapi/account_web_api.h"

#include "base/strings.h"
#include "platform/text.h"
#include "webapi/web_texts.h"

namespace vokar {

AccountWebApi::AccountWebApi(SettingsStore& settings, const platform::OperatorConfig& config,
                             WebBearer bearer, WebRequestUi* ui, platform::Clock& clock)
    : settings_(settings), config_(config), ui_(ui),
      runner_(
          std::move(bearer),
          [&settings] { return settings.server_list(SettingsStore::kWebList).current(); }, ui,
          clock)
{
}

AccountWebApi::~AccountWebApi() = default;

WebRequestTexts AccountWebApi::texts() const
{
    const Settings values = settings_.values();
    return WebRequestTexts(config_, values.username, values.password);
}

std::shared_ptr<WebRequest> AccountWebApi::silent(std::string request_text)
{
    auto request = std::make_shared<WebRequest>();
    request->request_text = std::move(request_text);
    WebRequestUi* ui = ui_;
    request->on_progress_key = [ui](int) {
        if (ui)
            ui->hide_progress();
    };
    return request;
}

std::shared_ptr<WebRequest> AccountWebApi::shown(std::string request_text, std::wstring progress,
                                                 std::wstring success, std::wstring failure)
{
    auto request = silent(std::move(request_text));
    request->progress_text = std::move(progress);
    request->success_text = std::move(success);
    request->failure_text = std::move(failure);
    request->show_messages = true;
    return request;
}

void AccountWebApi::fetch_servers()
{
    auto request = silent(texts().fetch_servers());
    request->on_success = [this](std::wstring payload) {
        settings_.apply_server_list_answer(platform::to_utf8(payload));
        settings_.save();
    };
    runner_.start(std::move(request));
}

void AccountWebApi::fetch_dialing_prefix()
{
    auto request = silent(texts().fetch_dialing_prefix());
    request->on_success = [this](std::wstring payload) {
        settings_.set(&Settings::dialing_prefix, sanitize_dialing_prefix(payload));
        settings_.save();
    };
    runner_.start(std::move(request));
}

void AccountWebApi::send_sms(const std::wstring& recipient, const std::wstring& message,
                             std::function<void()> on_sent, std::function<void()> on_hide)
{
    auto request =
        shown(texts().send_sms(recipient, message), std::wstring(web_texts::kSendingMessage),
              std::wstring(web_texts::kMessageSent), std::wstring(web_texts::kServiceUnavailable));
    if (on_sent)
        request->on_success = [on_sent = std::move(on_sent)](std::wstring) { on_sent(); };
    if (on_hide) {
        request->on_progress_key = [ui = ui_, on_hide = std::move(on_hide)](int) {
            if (ui)
                ui->hide_progress();
            on_hide();
        };
    }
    runner_.start(std::move(request));
}

void AccountWebApi::check_balance()
{
    auto request = shown(texts().check_balance(), std::wstring(web_texts::kCheckingBalance), {},
                         std::wstring(web_texts::kServiceUnavailable));
    request->append_response = true;
    runner_.start(std::move(request));
}

void AccountWebApi::send_invitation(const std::wstring& recipient)
{
    runner_.start(shown(texts().send_invitation(recipient), std::wstring(web_texts::kSendingInvite),
                        std::wstring(web_texts::kInviteSent),
                        std::wstring(web_texts::kServiceUnavailable)));
}

void AccountWebApi::create_account(const std::wstring& number, const std::wstring& password,
                                   const std::wstring& nickname, const std::wstring& email,
                                   const std::wstring& country_code,
                                   std::function<void()> on_created)
{
    auto request = shown(texts().create_account(number, password, nickname, email, country_code),
                         LoadResourceString(StringId::PROGRESS_CREATING_ACCOUNT), {},
                         LoadResourceString(StringId::CREATE_ACCOUNT_FAILED));
    request->append_response = true;
    if (on_created)
        request->on_success = [on_created = std::move(on_created)](std::wstring) { on_created(); };
    runner_.start(std::move(request));
}

bool AccountWebApi::wait_idle(uint32_t timeout_ms)
{
    return runner_.wait_idle(timeout_ms);
}

} // namespace vokar
