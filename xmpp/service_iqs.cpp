#include "xmpp/service_iqs.h"

#include "base/scan_string.h"

namespace vokar {

ServiceIqs::ServiceIqs(SessionContext& session, std::string os, std::string version)
    : session_(session), os_(std::move(os)), version_(std::move(version))
{
}

void ServiceIqs::send_holler(const std::string& to)
{
    auto iq = session_.new_iq({{"type", "set"}, {"to", to}});
    iq->add_child("query")->add_attribute("xmlns", "jabber:iq:vokar:holler:send");
    session_.send_request(*iq, [this](const XmlNode& answer) {
        if (const XmlNode* query = answer.find_element("query")) {
            JabberEvent event;
            event.text = query->text;
            session_.raise(kEventHollerAnswer, &event);
        }
    });
}

void ServiceIqs::retrieve_hollers()
{
    auto iq = session_.new_iq({{"type", "set"}});
    iq->add_child("query")->add_attribute("xmlns", "jabber:iq:vokar:holler:retrieve");
    session_.send_request(*iq, [this](const XmlNode& answer) {
        JabberEvent event;
        if (const XmlNode* query = answer.find_element("query")) {
            ScanString text(query->text);
            for (;;) {
                ScanString token = text.next_token();
                if (token.empty())
                    break;
                event.items.push_back(token.str());
            }
        }
        session_.raise(kEventHollers, &event);
    });
}

void ServiceIqs::set_holler_allowed(bool allowed)
{
    auto iq = session_.new_iq({{"type", "set"}});
    XmlNode* q = iq->add_child("query");
    q->add_attribute("xmlns", "jabber:iq:vokar:holler:setallow");
    q->text = allowed ? "enable" : "disable";
    session_.send_request(*iq, nullptr);
}

void ServiceIqs::send_version_check()
{
    auto iq = session_.new_iq({{"type", "set"}});
    XmlNode* q = iq->add_child("query");
    q->add_attribute("xmlns", "jabber:iq:vokar:services:versionupdate");
    q->add_attribute("method", "checkupdates");
    q->add_child("os")->text = os_;
    q->add_child("version")->text = version_;
    session_.send_request(*iq, [this](const XmlNode& answer) {
        const XmlNode* query = answer.find_element("query");
        if (!query || attribute_or_empty(*query, "update") != "true")
            return;
        const std::string* force = query->attribute_value("forceupdate");
        const XmlNode* url = query->find_element("updateurl");
        const XmlNode* message = query->find_element("message");
        if (!force || !url || !message)
            return;
        JabberEvent event;
        event.force_update = *force == "true";
        event.update_url = url->text;
        event.update_message = message->text;
        session_.raise(kEventNewVersion, &event);
    });
}

} // namespace vokar
