#include "xmpp/presence_handler.h"

namespace vokar {

PresenceHandler::PresenceHandler(SessionContext& session, const TransportLookup& transports,
                                 std::string tagline)
    : session_(session), transports_(transports), tagline_(std::move(tagline))
{
}

void PresenceHandler::start_session()
{
    auto iq = session_.new_iq({{"type", "get"}});
    iq->add_child("query")->add_attribute("xmlns", "jabber:iq:roster");
    session_.send_request(*iq, [this](const XmlNode& answer) { on_roster(answer); });
    {
        std::lock_guard lock(mutex_);
        status_ = kStatusAvailable;
    }
}

void PresenceHandler::on_roster(const XmlNode& iq)
{
    const XmlNode* query = iq.find_element("query");
    if (!query || !iq.attribute_value("type"))
        return;
    JabberEvent batch;
    bool first_load = false;
    {
        std::lock_guard lock(mutex_);
        for (const auto& item : query->children) {
            if (item->name != "item")
                continue;
            const XmlNode* group = item->find_element("group");
            if (group && group->text == "Transports")
                continue;
            const std::string* jid_attr = item->attribute_value("jid");
            if (!jid_attr)
                continue;
            const std::string jid = bare_jid(*jid_attr);
            const std::string* subscription = item->attribute_value("subscription");
            const std::string ask = attribute_or_empty(*item, "ask");
            if (RosterContact* contact = roster_.find(jid)) {
                if (subscription) {
                    contact->subscription = *subscription;
                    contact->ask = ask;
                }
            } else if (!subscription || *subscription != "remove") {
                roster_.add({jid, subscription ? *subscription : std::string(), ask, {}});
            }
            PresenceUpdate update;
            update.jid = jid;
            update.status = kStatusOffline;
            const std::string* name = item->attribute_value("name");
            update.name = name ? *name : jid;
            update.in_roster = true;
            const std::string sub = subscription ? *subscription : std::string();
            if (sub == "none") {
                if (ask == "unsubscribe")
                    continue;
                update.status = kStatusRequested;
            } else if (sub == "from") {
                if (ask == "unsubscribe")
                    continue;
            } else if (sub == "remove") {
                update.removed = true;
                roster_.remove(jid);
            }
            batch.updates.push_back(std::move(update));
        }
        if (!roster_.loaded()) {
            roster_.set_loaded();
            first_load = true;
        }
    }
    if (first_load)
        session_.raise(kEventRosterLoaded, nullptr);
    session_.raise(kEventPresence, &batch);
}

void PresenceHandler::on_presence(const XmlNode& presence)
{
    const std::string* from = presence.attribute_value("from");
    if (!from)
        return;
    const std::string jid = bare_jid(*from);
    const std::string resource = jid_resource(*from);
    const std::string type = attribute_or_empty(presence, "type");
    const int transport_network = transports_.network_of(jid);
    if (transport_network != -1) {
        JabberEvent event;
        event.network = transport_network;
        session_.raise(kEventTransport, &event);
        return;
    }
    if (type == "unavailable") {
        PresenceUpdate update;
        update.jid = jid;
        {
            std::lock_guard lock(mutex_);
            RosterContact* contact = roster_.find(jid);
            if (contact && !resource.empty())
                contact->remove_resource(resource);
            update.status = contact ? contact->shown_status() : kStatusOffline;
            update.status_text = contact ? contact->shown_text() : std::string();
        }
        // Earlier presences of this chunk go first: raised after this one,
        // they would show a contact that just left as still online.
        flush_batch();
        JabberEvent event;
        event.updates.push_back(std::move(update));
        session_.raise(kEventPresence, &event);
        return;
    }
    if (type == "subscribe") {
        bool known = false;
        {
            std::lock_guard lock(mutex_);
            const RosterContact* contact = roster_.find(jid);
            known = contact && (contact->subscription == "to" || contact->ask == "subscribe");
        }
        if (known) {
            send_subscription(*from, "subscribed");
        } else {
            JabberEvent event;
            PresenceUpdate update;
            update.jid = jid;
            update.status = kStatusPending;
            event.updates.push_back(std::move(update));
            flush_batch();
            session_.raise(kEventPresence, &event);
        }
        return;
    }
    if (!type.empty())
        return;

    std::string text;
    if (const XmlNode* status = presence.find_element("status"))
        text = status->text;
    const auto tag = text.find(tagline_);
    if (tag != std::string::npos && tag > 0)
        text.resize(tag);
    int code = kStatusAvailable;
    if (const XmlNode* show = presence.find_element("show"))
        code = status_from_show(show->text);

    PresenceUpdate update;
    update.jid = jid;
    update.status = code;
    update.status_text = text;
    {
        std::lock_guard lock(mutex_);
        RosterContact* contact = roster_.find(jid);
        if (contact && !resource.empty()) {
            const size_t rank = contact->update_resource(resource, code, text);
            if (rank != 0) {
                update.status = contact->shown_status();
                update.status_text = contact->shown_text();
            }
        }
    }
    batch_.updates.push_back(std::move(update));
}

void PresenceHandler::flush_batch()
{
    if (batch_.updates.empty())
        return;
    JabberEvent batch;
    std::swap(batch, batch_);
    session_.raise(kEventPresence, &batch);
}

void PresenceHandler::send_presence(const std::string& to)
{
    int status;
    std::string text;
    {
        std::lock_guard lock(mutex_);
        status = status_;
        text = status_text_;
    }
    XmlNode p("presence");
    p.add_attribute("id", session_.next_id());
    if (!to.empty())
        p.add_attribute("to", to);
    p.add_child("status")->text = text.empty() ? tagline_ : text + " " + tagline_;
    if (status == kStatusAway)
        p.add_child("show")->text = "away";
    else if (status == kStatusBusy)
        p.add_child("show")->text = "dnd";
    session_.send(p);
}

void PresenceHandler::send_subscription(const std::string& to, const char* type)
{
    XmlNode p("presence");
    p.add_attribute("id", session_.next_id());
    p.add_attribute("to", to);
    p.add_attribute("type", type);
    session_.send(p);
}

void PresenceHandler::roster_set(const std::string& jid, const std::string& name,
                                 const std::string& group, bool remove)
{
    auto iq = session_.new_iq({{"type", "set"}});
    XmlNode* query = iq->add_child("query");
    query->add_attribute("xmlns", "jabber:iq:roster");
    XmlNode* item = query->add_child("item");
    item->add_attribute("jid", jid);
    if (remove) {
        item->add_attribute("subscription", "remove");
    } else {
        if (!name.empty())
            item->add_attribute("name", name);
        if (!group.empty())
            item->add_child("group")->text = group;
    }
    session_.send_request(*iq, nullptr);
}

void PresenceHandler::plain_add(const std::string& jid, const std::string& name,
                                const std::string& group)
{
    roster_set(jid, name, group, false);
    send_subscription(jid, "subscribe");
}

void PresenceHandler::accept(const std::string& jid, const std::string& name,
                             const std::string& group)
{
    send_subscription(jid, "subscribed");
    roster_set(jid, name, group, false);
    send_subscription(jid, "subscribe");
}

void PresenceHandler::rename(const std::string& jid, const std::string& name)
{
    roster_set(jid, name, "", false);
}

void PresenceHandler::remove(const std::string& jid)
{
    roster_set(jid, "", "", true);
}

void PresenceHandler::reject(const std::string& jid)
{
    // A roster remove alone leaves the request with the server, which offers
    // it again at every login: only "unsubscribed" answers it.
    send_subscription(jid, "unsubscribed");
    bool in_roster;
    {
        std::lock_guard lock(mutex_);
        in_roster = roster_.find(bare_jid(jid)) != nullptr;
    }
    if (in_roster)
        roster_set(jid, "", "", true);
}

void PresenceHandler::set_status(int status)
{
    {
        std::lock_guard lock(mutex_);
        status_ = status;
    }
    // Before the session starts a server takes no presence (a conforming
    // one closes the connection). The session's initial presence follows.
    if (!session_.in_session())
        return;
    send_presence("");
    for (const auto& jid : transports_.registered_jids())
        send_presence(jid);
}

void PresenceHandler::set_status_text(const std::string& text)
{
    int status;
    {
        std::lock_guard lock(mutex_);
        status_text_ = text;
        status = status_;
    }
    set_status(status);
}

bool PresenceHandler::roster_loaded()
{
    std::lock_guard lock(mutex_);
    return roster_.loaded();
}

std::string PresenceHandler::shown_resource(const std::string& bare)
{
    std::lock_guard lock(mutex_);
    const RosterContact* contact = roster_.find(bare);
    return contact && !contact->resources.empty() ? contact->resources[0].name : std::string();
}

} // namespace vokar
