#pragma once

namespace vokar::ui {

// The dialog template's edit identifiers that screens give their text boxes:
// 1021 to 1031 and 1036 to 1045.
constexpr bool is_template_edit(int id)
{
    return (id >= 1021 && id <= 1031) || (id >= 1036 && id <= 1045);
}

// Fields whose text is drawn masked.
constexpr bool is_password_edit(int id)
{
    return id == 1022 || id == 1029 || id == 1042;
}

// Fields where the action key is a key of their own (a new line or a send).
constexpr bool edit_accepts_return(int id)
{
    return id == 1024 || id == 1030 || id == 1026;
}

// The multi-line field (the SMS text).
constexpr bool is_multiline_edit(int id)
{
    return id == 1026;
}

} // namespace vokar::ui
