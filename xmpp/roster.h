#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xmpp/jabber_event.h"

namespace vokar {

// The bare form of a JID, lower-cased byte by byte: the part before the first
// "/" unless that "/" is the first character.
std::string bare_jid(std::string_view jid);
// The resource part: after the first "/" (empty when there is none, or when
// the "/" is the first character).
std::string jid_resource(std::string_view jid);

// Status code for a received `show` text (case-insensitive).
int status_from_show(std::string_view show);

struct ContactResource {
    std::string name;
    int status = kStatusAvailable;
    std::string status_text;
};

// One roster item with its resources, kept in rank order: index 0 is the
// resource whose presence the contact shows.
struct RosterContact {
    std::string jid;
    std::string subscription;
    std::string ask;
    std::vector<ContactResource> resources;

    // Moves (or adds) the resource to the place its status ranks it: after
    // every resource with a lower code, before those with an equal or higher
    // one. Returns the new rank.
    size_t update_resource(const std::string& name, int status, std::string text);
    // False when the contact has no such resource.
    bool remove_resource(const std::string& name);
    int shown_status() const { return resources.empty() ? kStatusOffline : resources[0].status; }
    std::string shown_text() const
    {
        return resources.empty() ? std::string() : resources[0].status_text;
    }
};

class Roster {
public:
    RosterContact* find(std::string_view bare);
    RosterContact& add(RosterContact contact);
    void remove(std::string_view bare);
    const std::vector<RosterContact>& contacts() const { return contacts_; }

    bool loaded() const { return loaded_; }
    void set_loaded() { loaded_ = true; }

private:
    std::vector<RosterContact> contacts_;
    bool loaded_ = false;
};

} // namespace vokar
