#include "ui/screens/account_screens.h"

#include "account/country_table.h"
#include "base/strings.h"
#include "ui/ui_messages.h"
#include "ui/ui_root.h"

namespace vokar::ui {

namespace {
constexpr int kOkCancelMenu = 112;
constexpr uint16_t kOk = 10140;
constexpr uint16_t kCancel = 10081;
} // namespace

CreateAccountScreen::CreateAccountScreen(Actions actions)
    : VirtualDialog(LoadResourceString(StringId::CREATE_ACCOUNT_TITLE), kOkCancelMenu),
      actions_(std::move(actions)),
      country_(add<Label>(LoadResourceString(StringId::CREATE_ACCOUNT_COUNTRY_LABEL), kCountry)),
      number_(add<TextBox>(kNumberEdit,
                           LoadResourceString(StringId::CREATE_ACCOUNT_MOBILE_NUMBER_LABEL),
                           TextBox::Options{.numeric = true, .max_length = 32})),
      password_(
          add<TextBox>(kPasswordEdit, LoadResourceString(StringId::CREATE_ACCOUNT_PASSWORD_LABEL))),
      name_(add<TextBox>(kNameEdit, LoadResourceString(StringId::CREATE_ACCOUNT_NAME_LABEL))),
      email_(add<TextBox>(kEmailEdit, LoadResourceString(StringId::CREATE_ACCOUNT_EMAIL_LABEL)))
{
    country_.set_action([this] {
        if (actions_.select_country)
            actions_.select_country();
    });
}

void CreateAccountScreen::set_country(const std::wstring& name, const std::wstring& code)
{
    country_code_ = code;
    country_.set_text(name);
    number_.set_text(L"+" + code);
    invalidate();
}

intptr_t CreateAccountScreen::handle_message(const platform::Message& message)
{
    if (message.code != code(UiMessage::Command))
        return VirtualDialog::handle_message(message);
    switch (static_cast<uint16_t>(message.wparam)) {
    case kOk: {
        StringId problem{};
        if (country_code_.empty())
            problem = StringId::CREATE_ACCOUNT_ERROR_NO_COUNTRY;
        else if (number_.text().size() < 4)
            problem = StringId::CREATE_ACCOUNT_ERROR_MOBILE_NUMBER;
        else if (password_.text().size() <= 4)
            problem = StringId::CREATE_ACCOUNT_ERROR_PASSWORD_TOO_SHORT;
        else if (email_.text().size() < 4)
            problem = StringId::CREATE_ACCOUNT_ERROR_EMAIL;
        if (problem != StringId{}) {
            root()->message(LoadResourceString(problem), MessageKind::Error);
            return 1;
        }
        root()->back();
        if (actions_.create)
            actions_.create(number_.text(), password_.text(), name_.text(), email_.text(),
                            country_code_);
        return 1;
    }
    case kCancel:
        root()->back();
        return 1;
    default:
        return 0;
    }
}

SelectCountryScreen::SelectCountryScreen(CreateAccountScreen& create_account)
    : VirtualDialog(LoadResourceString(StringId::SELECT_COUNTRY_TITLE), kOkCancelMenu),
      create_account_(create_account), filter_(add<TextBox>(kFilterEdit, L"")),
      list_(add<ListView>(kList))
{
    filtered_for_ = L"?"; // differs from any typed text: the first refilter fills the list
    refilter();
}

void SelectCountryScreen::refilter()
{
    if (filter_.text() == filtered_for_)
        return;
    filtered_for_ = filter_.text();
    rows_ = CountryTable::filter(filtered_for_);
    std::vector<ListView::Row> rows;
    rows.reserve(rows_.size());
    for (size_t i : rows_)
        rows.push_back(
            {0, std::wstring(CountryTable::name(i)), L"+" + std::wstring(CountryTable::code(i))});
    list_.set_rows(std::move(rows));
    list_.set_selection(rows_.empty() ? -1 : 0);
    invalidate();
}

intptr_t SelectCountryScreen::handle_message(const platform::Message& message)
{
    if (message.code == code(UiMessage::Command)) {
        switch (static_cast<uint16_t>(message.wparam)) {
        case kOk: {
            const int selected = list_.selection();
            if (selected >= 0 && static_cast<size_t>(selected) < rows_.size()) {
                const size_t i = rows_[static_cast<size_t>(selected)];
                create_account_.set_country(std::wstring(CountryTable::name(i)),
                                            std::wstring(CountryTable::code(i)));
            }
            root()->back();
            return 1;
        }
        case kCancel:
            root()->back();
            return 1;
        default:
            return 0;
        }
    }
    // Typing goes to the filter while the list keeps Up and Down.
    if (message.code == code(UiMessage::KeyDown)) {
        const auto key = static_cast<platform::Key>(message.wparam);
        if (key == platform::Key::Up || key == platform::Key::Down) {
            list_.handle_key(key);
            invalidate();
            return 1;
        }
    }
    const intptr_t result = VirtualDialog::handle_message(message);
    refilter();
    return result;
}

} // namespace vokar::ui
