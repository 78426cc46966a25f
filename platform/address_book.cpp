#include "platform/address_book.h"

#include <algorithm>

#include "platform/file.h"
#include "platform/text.h"

namespace vokar::platform {
namespace {

class NullAddressBook final : public AddressBook {
public:
    bool open() override { return true; }
    std::vector<AddressBookContact> contacts() override { return {}; }
    bool add_contact(const std::wstring&, const std::wstring&) override { return false; }
    std::vector<AddressBookContact> sim_entries() override { return {}; }
};

class VcardAddressBook final : public AddressBook {
public:
    explicit VcardAddressBook(std::string path) : path_(std::move(path)) {}

    bool open() override
    {
        auto text = read_file(path_, kMaxVcardFileBytes);
        if (!text)
            return false;
        text_ = std::move(*text);
        opened_ = true;
        return true;
    }
    std::vector<AddressBookContact> contacts() override
    {
        return opened_ ? parse_vcards(text_) : std::vector<AddressBookContact>{};
    }
    bool add_contact(const std::wstring& name, const std::wstring& number) override
    {
        if (!opened_ || text_.size() >= kMaxVcardFileBytes)
            return false;
        std::string text = text_;
        if (!text.empty() && text.back() != '\n')
            text += "\r\n";
        text += vcard_text(name, number);
        if (!write_file_atomically(path_, text))
            return false;
        text_ = std::move(text);
        return true;
    }
    std::vector<AddressBookContact> sim_entries() override { return {}; }

private:
    const std::string path_;
    std::string text_;
    bool opened_ = false;
};

bool equals_ignoring_case(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x | 0x20) == (y | 0x20);
           });
}

// One content line: "[group.]NAME[;PARAM...]:value".
struct Property {
    std::string_view name;
    std::string_view params; // after the first ';', before the ':'
    std::string_view value;
};

bool split_property(std::string_view line, Property* out)
{
    // The ':' that ends the name and parameters is the first one outside quotes.
    bool quoted = false;
    size_t colon = std::string_view::npos;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted) {
            colon = i;
            break;
        }
    }
    if (colon == std::string_view::npos)
        return false;
    std::string_view head = line.substr(0, colon);
    out->value = line.substr(colon + 1);
    const size_t semicolon = head.find(';');
    out->params =
        semicolon == std::string_view::npos ? std::string_view() : head.substr(semicolon + 1);
    head = head.substr(0, semicolon);
    const size_t dot = head.rfind('.');
    out->name = dot == std::string_view::npos ? head : head.substr(dot + 1);
    return true;
}

// A text value with its backslash escapes undone.
std::string unescape(std::string_view value)
{
    std::string text;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        const char next = value[++i];
        text += next == 'n' || next == 'N' ? '\n' : next;
    }
    return text;
}

// The components of a structured value, split at unescaped ";" (escapes kept).
std::vector<std::string> components(std::string_view value)
{
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            parts.back() += value.substr(i, 2);
            ++i;
        } else if (value[i] == ';') {
            parts.emplace_back();
        } else {
            parts.back() += value[i];
        }
    }
    return parts;
}

// The number's type letter from the TEL parameters, or 0 to leave it out.
// Both "TYPE=cell,voice" / TYPE="cell" (3.0, 4.0) and bare "CELL" (2.1) count.
char number_type(std::string_view params)
{
    bool cell = false, home = false, work = false, car = false;
    size_t start = 0;
    while (start <= params.size()) {
        size_t end = params.find_first_of(";,", start);
        if (end == std::string_view::npos)
            end = params.size();
        std::string_view word = params.substr(start, end - start);
        const size_t equals = word.find('=');
        if (equals != std::string_view::npos) {
            if (!equals_ignoring_case(word.substr(0, equals), "type"))
                word = {};
            else
                word = word.substr(equals + 1);
        }
        while (!word.empty() && word.front() == '"')
            word.remove_prefix(1);
        while (!word.empty() && word.back() == '"')
            word.remove_suffix(1);
        if (equals_ignoring_case(word, "fax") || equals_ignoring_case(word, "pager"))
            return 0;
        cell = cell || equals_ignoring_case(word, "cell");
        home = home || equals_ignoring_case(word, "home");
        work = work || equals_ignoring_case(word, "work");
        car = car || equals_ignoring_case(word, "car");
        start = end + 1;
    }
    if (cell)
        return 'm';
    if (car)
        return 'c';
    if (home)
        return 'h';
    if (work)
        return 'w';
    return 'm';
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

struct Card {
    std::string formatted_name;
    std::string structured_name;
    std::vector<AddressBookNumber> numbers;
};

void add_number(Card* card, std::string_view params, std::string_view value)
{
    const char type = number_type(params);
    if (type == 0)
        return;
    value = trim(value);
    if (value.size() >= 4 && equals_ignoring_case(value.substr(0, 4), "tel:"))
        value.remove_prefix(4);
    if (value.empty())
        return;
    // One mobile, two home, two work and one car number, like the phone's own book.
    static constexpr std::string_view kOrder = "mhwc";
    const size_t limit = type == 'h' || type == 'w' ? 2 : 1;
    const auto count = std::count_if(card->numbers.begin(), card->numbers.end(),
                                     [type](const AddressBookNumber& n) { return n.type == type; });
    if (static_cast<size_t>(count) >= limit || card->numbers.size() >= kMaxNumbersPerContact)
        return;
    AddressBookNumber number{to_wide(unescape(value)), type};
    const auto position = std::find_if(
        card->numbers.begin(), card->numbers.end(),
        [type](const AddressBookNumber& n) { return kOrder.find(n.type) > kOrder.find(type); });
    card->numbers.insert(position, std::move(number));
}

AddressBookContact finish(const Card& card)
{
    AddressBookContact contact;
    std::string name = card.formatted_name;
    if (name.empty()) {
        // N is "family;given;additional;prefix;suffix": shown as "given family".
        const auto parts = components(card.structured_name);
        std::string given = parts.size() > 1 ? unescape(parts[1]) : std::string();
        std::string family = unescape(parts[0]);
        name = given.empty() ? family : family.empty() ? given : given + " " + family;
    }
    contact.name = to_wide(name);
    contact.numbers = card.numbers;
    return contact;
}

} // namespace

std::unique_ptr<AddressBook> make_null_address_book()
{
    return std::make_unique<NullAddressBook>();
}

std::unique_ptr<AddressBook> make_vcard_address_book(std::string path)
{
    return std::make_unique<VcardAddressBook>(std::move(path));
}

std::vector<AddressBookContact> parse_vcards(std::string_view text)
{
    if (text.size() > kMaxVcardFileBytes)
        text = text.substr(0, kMaxVcardFileBytes);
    std::vector<AddressBookContact> contacts;
    Card card;
    bool in_card = false;
    std::string line;
    size_t pos = 0;
    while (pos < text.size()) {
        // Unfold: a line break followed by a space or tab continues the line.
        line.clear();
        for (;;) {
            size_t end = text.find('\n', pos);
            if (end == std::string_view::npos)
                end = text.size();
            std::string_view piece = text.substr(pos, end - pos);
            if (!piece.empty() && piece.back() == '\r')
                piece.remove_suffix(1);
            line += piece;
            pos = end < text.size() ? end + 1 : end;
            if (pos >= text.size() || (text[pos] != ' ' && text[pos] != '\t'))
                break;
            ++pos;
        }
        Property property;
        if (!split_property(line, &property))
            continue;
        if (equals_ignoring_case(property.name, "begin") &&
            equals_ignoring_case(trim(property.value), "vcard")) {
            card = Card{};
            in_card = true;
        } else if (!in_card) {
            continue;
        } else if (equals_ignoring_case(property.name, "end")) {
            contacts.push_back(finish(card));
            in_card = false;
        } else if (equals_ignoring_case(property.name, "fn")) {
            card.formatted_name = unescape(property.value);
        } else if (equals_ignoring_case(property.name, "n")) {
            card.structured_name = std::string(property.value);
        } else if (equals_ignoring_case(property.name, "tel")) {
            add_number(&card, property.params, property.value);
        }
    }
    return contacts;
}

std::string vcard_text(const std::wstring& name, const std::wstring& number)
{
    std::string escaped;
    for (const char c : to_utf8(name)) {
        if (c == '\\' || c == ',' || c == ';')
            escaped += '\\';
        if (c == '\n')
            escaped += "\\n";
        else if (c != '\r')
            escaped += c;
    }
    std::string tel;
    for (const char c : to_utf8(number))
        if (c != '\r' && c != '\n')
            tel += c;
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + escaped + "\r\nN:" + escaped +
           ";;;;\r\nTEL;TYPE=CELL:" + tel + "\r\nEND:VCARD\r\n";
}

} // namespace vokar::platform
