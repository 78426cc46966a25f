#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "account/settings_store.h"
#include "platform/clock.h"
#include "platform/operator_config.h"
#include "webapi/web_request.h"
#include "webapi/web_request_text.h"

namespace vokar {

// The account functions of the operator's web service. Every call builds its
// request from the current settings and returns at once; the request runs on
// its own threads and ends with a message through `ui` (when not null and
// the request is not silent) and/or an update of the settings. The settings
// store and the UI must outlive this object.
class AccountWebApi {
public:
    AccountWebApi(SettingsStore& settings, const platform::OperatorConfig& config, WebBearer bearer,
                  WebRequestUi* ui, platform::Clock& clock = platform::system_clock());
    // Stops the running requests (no message, no callback) and joins them.
    ~AccountWebApi();
    AccountWebApi(const AccountWebApi&) = delete;
    AccountWebApi& operator=(const AccountWebApi&) = delete;

    // Silent: applies the server-list answer to the settings and saves them.
    void fetch_servers();
    // Silent: stores the sanitised dialing prefix and saves the settings.
    void fetch_dialing_prefix();
    // `on_sent` (worker thread) runs when the service took the message, to
    // empty the Send SMS fields; `on_hide` runs after the progress screen's
    // Hide key hid it.
    void send_sms(const std::wstring& recipient, const std::wstring& message,
                  std::function<void()> on_sent, std::function<void()> on_hide = {});
    // Shows the balance the service answers.
    void check_balance();
    void send_invitation(const std::wstring& recipient);
    // Shows the service's answer to the sign-up. `on_created` (worker thread)
    // runs when the service created the account, before the answer is shown.
    void create_account(const std::wstring& number, const std::wstring& password,
                        const std::wstring& nickname, const std::wstring& email,
                        const std::wstring& country_code, std::function<void()> on_created = {});

    // Waits up to timeout_ms until no request runs.
    bool wait_idle(uint32_t timeout_ms);

private:
    std::shared_ptr<WebRequest> silent(std::string request_text);
    std::shared_ptr<WebRequest> shown(std::string request_text, std::wstring progress,
                                      std::wstring success, std::wstring failure);
    WebRequestTexts texts() const;

    SettingsStore& settings_;
    const platform::OperatorConfig config_;
    WebRequestUi* const ui_;
    // Last: destroyed (and its threads joined) before the members above.
    WebRequestRunner runner_;
};

} // namespace vokar
