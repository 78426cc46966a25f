#pragma once

#include "ui/screens/friends_service.h"

namespace vokar {
class AppController;
class SettingsStore;
} // namespace vokar

namespace vokar::ui {

// The screens' friend and call actions on the application controller.
class AppFriendsService final : public FriendsService {
public:
    AppFriendsService(AppController& app, SettingsStore& settings) : app_(app), settings_(settings)
    {
    }

    bool connected() override;
    bool logged_in() override;
    bool gateway_registered(int network) override;
    void send_message(const std::wstring& jid, const std::wstring& text) override;
    void holler(const std::wstring& jid) override;
    void rename(const std::wstring& jid, const std::wstring& name) override;
    void remove(const std::wstring& jid) override;
    void add(int network, const std::wstring& address) override;
    void accept(const std::wstring& jid, const std::wstring& name) override;
    void reject(const std::wstring& jid) override;
    void set_status(int status) override;
    void set_status_text(const std::wstring& text) override;
    void register_gateway(int network, const std::wstring& user,
                          const std::wstring& password) override;
    void unregister_gateway(int network) override;
    void call(const std::wstring& number) override;
    std::wstring normalize(const std::wstring& number) override;

private:
    AppController& app_;
    SettingsStore& settings_;
};

} // namespace vokar::ui
