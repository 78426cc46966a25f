#pragma once

#include <vector>

#include "ui/label.h"
#include "ui/list_view.h"
#include "ui/text_box.h"
#include "ui/virtual_dialog.h"

namespace vokar::ui {

class MainScreens;

// "Vokar - Edit Gateways": the IM networks with their gateway's state. Edit
// opens Edit Gateway for the selected one; Disable Account unregisters it.
class EditGatewaysScreen : public VirtualDialog {
public:
    static constexpr int kList = 3801;
    explicit EditGatewaysScreen(MainScreens& hub);
    void open();
    void activate(bool first_time) override;
    intptr_t handle_message(const platform::Message& message) override;
    // The network of the selected row, or -1.
    int selected_network() const;

private:
    void refresh();

    MainScreens& hub_;
    ListView& list_;
};

// "Vokar - Edit Gateway": user name and password for one network's gateway.
class EditGatewayScreen : public VirtualDialog {
public:
    static constexpr int kCaption = 3811;
    static constexpr int kUserEdit = 1028;
    static constexpr int kPasswordEdit = 1029;
    explicit EditGatewayScreen(MainScreens& hub);
    void open(int network);
    intptr_t handle_message(const platform::Message& message) override;
    int network() const { return network_; }

private:
    void save();

    MainScreens& hub_;
    Label& caption_;
    TextBox& user_;
    TextBox& password_;
    int network_ = -1;
};

} // namespace vokar::ui
