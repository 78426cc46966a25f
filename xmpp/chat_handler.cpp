#include "xmpp/chat_handler.h"

#include "xmpp/roster.h"

namespace vokar {

ChatHandler::ChatHandler(SessionContext& session, const TransportLookup& transports)
    : session_(session), transports_(transports)
{
}

void ChatHandler::send_message(const std::string& to, const std::string& body)
{
    XmlNode m("message");
    m.add_attribute("id", session_.next_id());
    m.add_attribute("to", to);
    m.add_attribute("type", "chat");
    m.add_child("body")->text = body;
    XmlNode* x = m.add_child("x");
    x->add_attribute("xmlns", "jabber:x:event");
    x->add_child("composing");
    m.add_child("active")->add_attribute("xmlns", kChatStates);
    session_.send(m);
}

void ChatHandler::on_message(const XmlNode& m)
{
    const std::string* from = m.attribute_value("from");
    const XmlNode* body = m.find_element("body");
    if (m.find_element("error")) {
        if (!from || !body)
            return;
        JabberEvent event;
        event.jid = bare_jid(*from);
        event.text = body->text;
        if (transports_.network_of(event.jid) != -1)
            session_.raise(kEventMessageError, &event);
        return;
    }
    if (!from)
        return;
    JabberEvent event;
    event.jid = bare_jid(*from);
    if (body) {
        event.text = body->text;
        session_.raise(attribute_or_empty(m, "type") == "error" ? kEventMessageError
                                                                : kEventChatMessage,
                       &event);
    } else if (const XmlNode* x = m.find_element("x")) {
        if (x->find_element("composing")) {
            event.chat_state = kChatStateComposing;
            session_.raise(kEventChatState, &event);
        }
    } else if (m.find_element("inactive") || m.find_element("paused") || m.find_element("gone")) {
        event.chat_state = kChatStateStopped;
        session_.raise(kEventChatState, &event);
    }
}

} // namespace vokar
