#pragma once

#include <functional>
#include <string>

#include "platform/window.h"
#include "ui/label.h"
#include "ui/login_footer.h"
#include "ui/text_box.h"
#include "ui/virtual_dialog.h"

namespace vokar::ui {

// The first screen: mobile number, password, the "Create a new account" link
// and the connection footer. The screen checks the input; what it cannot know
// (the network, the stored settings, starting the login) it asks its owner.
class LoginScreen : public VirtualDialog {
public:
    static constexpr int kNumberEdit = 1021;
    static constexpr int kPasswordEdit = 1022;
    static constexpr int kCreateAccountLink = 3001;
    static constexpr int kFooter = 3002;

    struct Actions {
        // Whether the network monitor reports a network.
        std::function<bool()> network_available;
        // The typed number in the service's form.
        std::function<std::wstring(const std::wstring&)> normalize;
        // Stores the credentials in the settings, saves them and starts both logins.
        std::function<void(const std::wstring& user, const std::wstring& password)> log_in;
        // The stored credentials and the automatic-login flag.
        std::function<std::wstring()> stored_user;
        std::function<std::wstring()> stored_password;
        std::function<bool()> autologin;
        // Whether UDP traffic has to go through the tunnel.
        std::function<bool()> udp_needs_tunnel;
        std::function<void()> fetch_server_lists;
        std::function<void()> create_account;
        std::function<void()> open_main_screen;
    };

    explicit LoginScreen(Actions actions);

    intptr_t handle_message(const platform::Message& message) override;
    void activate(bool first_time) override;

    // The network status changed: updates the footer, warns about a
    // restricted connection, fetches the server lists and logs in by itself
    // when automatic login is on.
    void network_status_changed();
    // Only the footer follows the network status (the screen is not current).
    void show_network_status();
    // The transports are being probed: the footer says so meanwhile.
    void network_check(bool checking) { footer_.set_checking(checking); }
    // Runs the login checks as the Login soft key does.
    void press_login();
    // Puts a number and password in the fields (a new account's).
    void set_credentials(const std::wstring& number, const std::wstring& password);

private:
    void error(int string_id);

    Actions actions_;
    TextBox& number_;
    TextBox& password_;
    Label& link_;
    LoginFooter& footer_;
};

} // namespace vokar::ui
