#include "account/settings_store.h"

#include <algorithm>

#include "account/server_list_answer.h"
#include "base/scan_string.h"
#include "base/scramble.h"
#include "platform/file.h"
#include "platform/text.h"
#include "xml/xml_node.h"

namespace vokar {
namespace {

// Element names of the persisted lists 0..3 under "servers".
constexpr std::string_view kListElements[] = {"sip", "jabber", "php", "stun"};

uint32_t read_u32(std::string_view bytes, size_t at)
{
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
    return v;
}

void write_u32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

const std::string* child_text(const XmlNode* parent, std::string_view name)
{
    const XmlNode* node = parent->find_element(name);
    return node ? &node->text : nullptr;
}

int32_t to_int(std::string_view text)
{
    return ScanString(text).to_int();
}

// Reads lines and whitespace-separated numbers from a legacy settings text, in
// the manner of a C++ text stream: after the first failed read, every read
// fails and leaves its target unchanged.
class LegacyReader {
public:
    explicit LegacyReader(std::string_view text) : text_(text) {}

    bool line(std::wstring& target)
    {
        if (failed_ || pos_ >= text_.size()) {
            failed_ = true;
            return false;
        }
        const auto nl = text_.find('\n', pos_);
        const size_t end = nl == std::string_view::npos ? text_.size() : nl;
        std::string value(text_.substr(pos_, end - pos_));
        std::erase(value, '\r');
        pos_ = std::min(end + 1, text_.size());
        target = platform::to_wide(value);
        return true;
    }

    bool number(int32_t& target)
    {
        if (failed_)
            return false;
        while (pos_ < text_.size() &&
               std::string_view(" \t\r\n\v\f").find(text_[pos_]) != std::string_view::npos)
            ++pos_;
        size_t end = pos_;
        if (end < text_.size() && (text_[end] == '-' || text_[end] == '+'))
            ++end;
        const size_t digits = end;
        while (end < text_.size() && text_[end] >= '0' && text_[end] <= '9')
            ++end;
        if (end == digits) {
            failed_ = true;
            return false;
        }
        target = to_int(text_.substr(pos_, end - pos_));
        pos_ = end;
        return true;
    }

    bool flag(bool& target)
    {
        int32_t v = 0;
        if (!number(v))
            return false;
        target = v != 0;
        return true;
    }

    // A count-prefixed server list starting at the cursor.
    void list(ServerList& list)
    {
        if (failed_ || pos_ >= text_.size()) {
            failed_ = true;
            return;
        }
        pos_ += list.load(text_.substr(pos_), false);
    }

private:
    std::string_view text_;
    size_t pos_ = 0;
    bool failed_ = false;
};

} // namespace

SettingsStore::SettingsStore(std::string path, const platform::OperatorConfig& config)
    : domain(config.sip_domain), path_(std::move(path))
{
    const int kinds[] = {kServerSip, kServerXmpp, kServerWeb, kServerStun, kServerFallback};
    for (size_t i = 0; i < server_lists_.size(); ++i) {
        server_lists_[i] =
            std::make_unique<ServerList>(kinds[i], default_endpoint(kinds[i], config));
        server_lists_[i]->set_save_hook([this] { save(); });
    }
    if (const auto file = platform::read_file(path_, kMaxFileBytes))
        load_from(*file);
}

void SettingsStore::set_client_up(std::function<bool(int kind)> client_up)
{
    for (size_t i : {kSipList, kXmppList}) {
        const int kind = server_lists_[i]->kind();
        server_lists_[i]->set_client_up(
            client_up ? std::function<bool()>([client_up, kind] { return client_up(kind); })
                      : std::function<bool()>());
    }
}

void SettingsStore::load_from(std::string_view file)
{
    first_run = false;
    if (file.size() < 4)
        return; // too short to hold a layout number: nothing useful
    const uint32_t layout = read_u32(file, 0);
    if (layout >= kLayout)
        load_current(file);
    else
        load_legacy(layout, file);
}

void SettingsStore::load_current(std::string_view file)
{
    if (file.size() < 8)
        return;
    // The stored length is trusted only as far as the bytes present.
    const size_t length = std::min<size_t>(read_u32(file, 4), file.size() - 8);
    const auto document =
        XmlNode::parse(unscramble(file.substr(8, length)), XmlNode::Syntax::kFile);
    if (!document)
        return;

    if (const XmlNode* user = document->find_element("user")) {
        if (const auto* t = child_text(user, "username"))
            username = platform::to_wide(*t);
        if (const auto* t = child_text(user, "password"))
            password = platform::to_wide(*t);
        if (const auto* t = child_text(user, "autologin"))
            autologin = *t == "true";
    }
    if (const XmlNode* sip = document->find_element("sip")) {
        if (const auto* t = child_text(sip, "domain"))
            domain = *t;
        if (const auto* t = child_text(sip, "dialing_prefix"))
            dialing_prefix = platform::to_wide(*t);
        if (const auto* t = child_text(sip, "ring_volume"))
            ring_volume = std::clamp(to_int(*t), 0, 7);
        if (const auto* t = child_text(sip, "volume"))
            volume = std::clamp(to_int(*t), 0, 7);
    }
    if (const XmlNode* jabber = document->find_element("jabber")) {
        if (const auto* t = child_text(jabber, "message_alert"))
            message_alert = *t == "true";
        if (const auto* t = child_text(jabber, "allow_holler"))
            allow_holler = *t == "true";
        if (const auto* t = child_text(jabber, "show_offline_friends"))
            show_offline_friends = *t == "true";
    }
    if (const XmlNode* servers = document->find_element("servers")) {
        for (const auto& element : servers->children) {
            const auto known =
                std::find(std::begin(kListElements), std::end(kListElements), element->name);
            if (known == std::end(kListElements))
                continue;
            ServerList& list =
                *server_lists_[static_cast<size_t>(known - std::begin(kListElements))];
            if (const std::string* index = element->attribute_value("index"))
                list.set_index(static_cast<uint32_t>(to_int(*index)));
            list.clear();
            for (const auto& server : element->children) {
                ScanString entry(server->text);
                ScanString host = entry.next_token(":");
                const int port = entry.next_token(":").to_int();
                if (!host.empty() && port != 0)
                    list.append({host.str(), port});
            }
        }
    }
}

void SettingsStore::load_legacy(uint32_t layout, std::string_view file)
{
    std::string text;
    const bool scrambled = layout == 210 || layout == 200 || layout == 102;
    if (scrambled) {
        const size_t present = file.size() >= 8 ? file.size() - 8 : 0;
        const size_t length = file.size() >= 8 ? std::min<size_t>(read_u32(file, 4), present) : 0;
        text = unscramble(file.substr(std::min<size_t>(8, file.size()), length));
    } else {
        text = std::string(file); // plain text from the first byte
    }
    LegacyReader in(text);
    if (layout == 210) {
        (void)(in.line(username) && in.line(password) && in.line(dialing_prefix) &&
               in.line(status_message) && in.number(ring_volume) && in.number(volume) &&
               in.flag(autologin) && in.flag(message_alert) && in.flag(show_offline_friends) &&
               in.flag(allow_holler));
        for (size_t i = 0; i < 4; ++i)
            in.list(*server_lists_[i]);
    } else {
        (void)(in.line(username) && in.line(password) && in.line(dialing_prefix) &&
               in.number(ring_volume) && in.number(legacy_a) && in.number(legacy_b) &&
               in.number(volume));
        if (layout == 200)
            for (size_t i = 0; i < 4; ++i)
                in.list(*server_lists_[i]);
    }
    if (ring_volume < 0 || ring_volume > 7)
        ring_volume = 4;
    if (volume < 0 || volume > 7)
        volume = 3;
    if (legacy_a < 0 || legacy_a > 1)
        legacy_a = 0;
    if (legacy_b < 0 || legacy_b > 2)
        legacy_b = 1;
}

std::string SettingsStore::serialize()
{
    auto root = XmlNode::new_document();
    XmlNode* settings = root->add_child("settings");
    settings->add_attribute("os", "wm");
    settings->add_attribute("version", "2.2");
    const auto add = [](XmlNode* parent, std::string name, std::string text) {
        parent->add_child(std::move(name))->text = std::move(text);
    };
    const auto flag = [](bool v) { return std::string(v ? "true" : "false"); };

    XmlNode* user = settings->add_child("user");
    add(user, "username", platform::to_utf8(username));
    add(user, "password", platform::to_utf8(password));
    add(user, "autologin", flag(autologin));

    XmlNode* sip = settings->add_child("sip");
    add(sip, "domain", domain);
    add(sip, "dialing_prefix", platform::to_utf8(dialing_prefix));
    add(sip, "ring_volume", std::to_string(ring_volume));
    add(sip, "volume", std::to_string(volume));

    XmlNode* jabber = settings->add_child("jabber");
    add(jabber, "message_alert", flag(message_alert));
    add(jabber, "allow_holler", flag(allow_holler));
    add(jabber, "show_offline_friends", flag(show_offline_friends));

    XmlNode* servers = settings->add_child("servers");
    for (size_t i = 0; i < 4; ++i) {
        XmlNode* list = servers->add_child(std::string(kListElements[i]));
        list->add_attribute("index", std::to_string(server_lists_[i]->index()));
        for (const auto& e : server_lists_[i]->entries())
            add(list, "server", e.host + ":" + std::to_string(e.port));
    }
    return settings->serialize();
}

bool SettingsStore::save()
{
    std::lock_guard lock(save_mutex_);
    const std::string xml = serialize();
    std::string file;
    write_u32(file, kLayout);
    write_u32(file, static_cast<uint32_t>(xml.size() + 1));
    file += scramble(xml);
    return platform::write_file_atomically(path_, file);
}

void SettingsStore::apply_server_list_answer(std::string_view body)
{
    if (body.empty())
        return;
    const ServerListAnswer answer = ServerListAnswer::parse(body);
    for (size_t i = 0; i < 4; ++i)
        server_lists_[i]->load(answer.count_prefixed(i), true);
    if (answer.domain)
        domain = *answer.domain;
}

} // namespace vokar
