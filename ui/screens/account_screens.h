#pragma once

#include <functional>
#include <string>

#include "ui/label.h"
#include "ui/list_view.h"
#include "ui/text_box.h"
#include "ui/virtual_dialog.h"

namespace vokar::ui {

// "Vokar - Create Account": country, mobile number, password, name and
// e-mail address. OK checks them in that order; when all pass the screen goes
// back and the sign-up request starts.
class CreateAccountScreen : public VirtualDialog {
public:
    static constexpr int kCountry = 3301;
    static constexpr int kNumberEdit = 1025;
    static constexpr int kPasswordEdit = 1029;
    static constexpr int kNameEdit = 1027;
    static constexpr int kEmailEdit = 1028;

    struct Actions {
        // Opens Select Country.
        std::function<void()> select_country;
        // Starts the sign-up request (number, password, name, e-mail, country code).
        std::function<void(const std::wstring&, const std::wstring&, const std::wstring&,
                           const std::wstring&, const std::wstring&)>
            create;
    };

    explicit CreateAccountScreen(Actions actions);
    intptr_t handle_message(const platform::Message& message) override;

    // The country chosen on Select Country; the number starts with its code.
    void set_country(const std::wstring& name, const std::wstring& code);

private:
    Actions actions_;
    Label& country_;
    TextBox& number_;
    TextBox& password_;
    TextBox& name_;
    TextBox& email_;
    std::wstring country_code_;
};

// "Vokar - Select Country": the countries whose name begins with the typed
// letters; OK takes the selected one into Create Account.
class SelectCountryScreen : public VirtualDialog {
public:
    static constexpr int kFilterEdit = 1031;
    static constexpr int kList = 3311;

    explicit SelectCountryScreen(CreateAccountScreen& create_account);
    intptr_t handle_message(const platform::Message& message) override;

private:
    void refilter();

    CreateAccountScreen& create_account_;
    TextBox& filter_;
    ListView& list_;
    std::vector<size_t> rows_; // country table indices of the list's rows
    std::wstring filtered_for_;
};

} // namespace vokar::ui
