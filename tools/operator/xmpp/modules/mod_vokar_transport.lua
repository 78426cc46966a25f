-- A gateway to another IM network, loaded as the component of that network's
-- transport host ("msn." + domain and so on; vokar_network names the
-- network). No legacy network is reachable from here, so the transport
-- simulates one: a few contacts are always online to registered users and
-- answer every chat message.
--
-- What users of the parent domain can do with it:
--   jabber:iq:register   register with a legacy user name and password (the
--                        user name must be an address of the network; the
--                        password is only required, never kept), or <remove/>
--   jabber:iq:gateway    translate a legacy address into a contact JID, or
--                        "null" when it is no address of the network
--   disco#info           "gateway" identity, with jabber:iq:registered
--                        listed only for registered users
--   presence             a registered user's presence to the transport is
--                        answered by the transport's, and the simulated
--                        contacts in the user's roster come online
--   subscribe            to a simulated contact: approved once registered
--   message              to a simulated contact: answered with an echo; a
--                        message that cannot be delivered comes back from
--                        the transport's JID with its body and an error
--
-- Presence from the transport's own JID is sent to registered users only:
-- clients take any presence from it as "registered with this gateway".

local st = require "util.stanza";
local jid = require "util.jid";
local rostermanager = require "core.rostermanager";

local host = module.host;
local parent = host:match("^[^.]+%.(.+)$");

local function trim(text) return (text or ""):match("^%s*(.-)%s*$"); end

-- Legacy addresses, each returned normalised (lower case, separators
-- dropped) or nil when the text is none.
local function email(text)
	local user, domain = text:lower():match("^([%w._%%+-]+)@([%w.-]+)$");
	if not user or #user > 64 or #domain > 253 or not domain:find(".", 1, true)
		or domain:find("..", 1, true) or domain:match("^[.-]") or domain:match("[.-]$") then
		return nil;
	end
	return user .. "@" .. domain;
end

local function name_from(pattern, min, max)
	return function (text)
		text = text:lower();
		if #text >= min and #text <= max and text:match(pattern) then return text; end
	end
end

local function number_from(min, max)
	return function (text)
		text = text:gsub("[%s-]", "");
		if #text >= min and #text <= max and text:match("^[1-9]%d*$") then return text; end
	end
end

local function either(a, b)
	return function (text) return a(text) or b(text); end
end

-- AIM folds case and ignores blanks in screen names.
local function screen_name(text)
	local name = text:lower():gsub(" ", "");
	if #name >= 3 and #name <= 16 and text:match("^%a[%w ]*$") then return name; end
end

local function facebook_name(text)
	text = text:lower():gsub("@chat%.facebook%.com$", ""):gsub("@facebook%.com$", "");
	if #text >= 5 and #text <= 50 and text:match("^[%w.]+$") and not text:find("..", 1, true) then
		return text;
	end
end

-- contacts: address, name, show ("away" or nil).
local networks = {
	msn = {
		name = "MSN"; identity = "msn"; address = email;
		rule = "an e-mail address such as anna@hotmail.com";
		contacts = { { "anna@hotmail.com", "Anna" }, { "ben@live.com", "Ben", "away" },
			{ "chloe@outlook.com", "Chloe" } };
	};
	yahoo = {
		name = "Yahoo"; identity = "yahoo"; address = either(name_from("^%a[%w_.]*$", 4, 32), email);
		rule = "a Yahoo ID (4 to 32 letters, digits, _ and ., starting with a letter) or an e-mail address";
		contacts = { { "daniel_k", "Daniel" }, { "emma.w", "Emma", "away" }, { "felix77", "Felix" } };
	};
	icq = {
		name = "ICQ"; identity = "icq"; address = number_from(5, 10);
		rule = "a UIN of 5 to 10 digits";
		contacts = { { "12345678", "Gina" }, { "23456789", "Hugo", "away" }, { "34567890", "Iris" } };
	};
	aim = {
		name = "AIM"; identity = "aim"; address = either(screen_name, email);
		rule = "a screen name (3 to 16 letters and digits, starting with a letter) or an e-mail address";
		contacts = { { "jadeparker", "Jade" }, { "kevinlow", "Kevin", "away" }, { "lenamoss", "Lena" } };
	};
	gtalk = {
		name = "Google Talk"; identity = "gtalk"; address = email;
		rule = "a Google address such as mark@gmail.com";
		contacts = { { "mark@gmail.com", "Mark" }, { "nina@gmail.com", "Nina", "away" },
			{ "omar@gmail.com", "Omar" } };
	};
	skype = {
		name = "Skype"; identity = "skype"; address = name_from("^%a[%w._-]*$", 6, 32);
		rule = "a Skype name (6 to 32 letters, digits, ., _ and -, starting with a letter)";
		contacts = { { "paula.rossi", "Paula" }, { "quentin_b", "Quentin", "away" }, { "rachel.king", "Rachel" } };
	};
	facebook = {
		name = "Facebook"; identity = "facebook"; address = facebook_name;
		rule = "a Facebook user name or number (5 to 50 letters, digits and .)";
		contacts = { { "sam.taylor", "Sam" }, { "tessa.moore", "Tessa", "away" }, { "100004567", "Umar" } };
	};
	qq = {
		name = "QQ"; identity = "qq"; address = number_from(5, 11);
		rule = "a QQ number of 5 to 11 digits";
		contacts = { { "10001", "Vera" }, { "10002", "Wang", "away" }, { "10003", "Xiao" } };
	};
	gadugadu = {
		name = "Gadu-Gadu"; identity = "gadu-gadu"; address = number_from(1, 10);
		rule = "a Gadu-Gadu number of up to 10 digits";
		contacts = { { "1234567", "Yvonne" }, { "2345678", "Zbigniew", "away" }, { "3456789", "Agata" } };
	};
};

local network_key = module:get_option_string("vokar_network", host:match("^[^.]+"));
local network = networks[network_key];
if not network or not parent then
	error(("vokar_transport on %s: unknown network '%s'"):format(host, tostring(network_key)));
end
local transport_name = module:get_option_string("name", network.name .. " Transport");

local contacts = {};
for _, c in ipairs(network.contacts) do
	contacts[c[1]] = { name = c[2], show = c[3] };
end

-- Per user of the parent domain (bare JID): { username = legacy address }.
local registrations = module:open_store("vokar_gateway");

local function contact_jid(address)
	return jid.escape(address) .. "@" .. host;
end

-- The sender's bare JID when it is a user of the parent domain.
local function user_of(stanza)
	local from = stanza.attr.from;
	local node, from_host = jid.split(from);
	if node and from_host == parent then
		return node .. "@" .. from_host, node;
	end
end

local function registration_of(user)
	local record, err = registrations:get(user);
	if err then module:log("error", "cannot read the registration of %s: %s", user, err); end
	return record;
end

-- Presence of the contact at `address` (its JID is `from`) for `to`;
-- available, with the contact's status, when `presence_type` is nil.
local function contact_presence(from, address, to, presence_type)
	local presence = st.presence({ from = from, to = to, type = presence_type });
	local contact = contacts[address];
	if not presence_type and contact then
		if contact.show then presence:text_tag("show", contact.show); end
		presence:text_tag("status", contact.name .. " on " .. network.name .. " (simulated)");
	end
	return presence;
end

-- The simulated contacts in the user's roster: approves pending requests,
-- refuses those for addresses nobody has, and sends the presence of those
-- the user sees (all unavailable when `going` is set).
local function update_contacts(user, node, going)
	local roster = rostermanager.load_roster(node, parent);
	local outgoing = {};
	for item_jid, item in pairs(roster) do
		if type(item_jid) == "string" and jid.host(item_jid) == host and jid.node(item_jid) then
			local address = jid.unescape(jid.node(item_jid));
			local sees = item.subscription == "to" or item.subscription == "both";
			if not going and not sees and item.ask == "subscribe" then
				local known = contacts[address] ~= nil;
				table.insert(outgoing, st.presence({ from = item_jid, to = user,
					type = known and "subscribed" or "unsubscribed" }));
				sees = known;
			end
			if sees and contacts[address] then
				table.insert(outgoing, contact_presence(item_jid, address, user, going and "unavailable" or nil));
			end
		end
	end
	for _, stanza in ipairs(outgoing) do module:send(stanza); end
end

-- ---- service discovery

module:hook("iq-get/host/http://jabber.org/protocol/disco#info:query", function (event)
	local origin, stanza = event.origin, event.stanza;
	if stanza.tags[1].attr.node then
		origin.send(st.error_reply(stanza, "cancel", "item-not-found"));
		return true;
	end
	local reply = st.reply(stanza):query("http://jabber.org/protocol/disco#info")
		:tag("identity", { category = "gateway", type = network.identity, name = transport_name }):up()
		:tag("feature", { var = "http://jabber.org/protocol/disco#info" }):up()
		:tag("feature", { var = "jabber:iq:register" }):up()
		:tag("feature", { var = "jabber:iq:gateway" }):up();
	local user = user_of(stanza);
	if user and registration_of(user) then
		reply:tag("feature", { var = "jabber:iq:registered" }):up();
	end
	origin.send(reply);
	return true;
end);

module:hook("iq-get/host/http://jabber.org/protocol/disco#items:query", function (event)
	event.origin.send(st.reply(event.stanza):query("http://jabber.org/protocol/disco#items"));
	return true;
end);

-- ---- registration

module:hook("iq-get/host/jabber:iq:register:query", function (event)
	local origin, stanza = event.origin, event.stanza;
	local user = user_of(stanza);
	if not user then
		origin.send(st.error_reply(stanza, "auth", "forbidden", "Only users of " .. parent .. " can register."));
		return true;
	end
	local record = registration_of(user);
	local reply = st.reply(stanza):query("jabber:iq:register")
		:text_tag("instructions", "Enter your " .. network.name .. " user name (" .. network.rule
			.. ") and password.");
	if record then
		reply:tag("registered"):up():text_tag("username", record.username):tag("password"):up();
	else
		reply:tag("username"):up():tag("password"):up();
	end
	origin.send(reply);
	return true;
end);

local function unregister(origin, stanza, user, node)
	if not registration_of(user) then
		origin.send(st.error_reply(stanza, "cancel", "item-not-found",
			"You are not registered with the " .. transport_name .. "."));
		return true;
	end
	local ok, err = registrations:set(user, nil);
	if not ok then
		module:log("error", "cannot remove the registration of %s: %s", user, err);
		origin.send(st.error_reply(stanza, "wait", "internal-server-error"));
		return true;
	end
	origin.send(st.reply(stanza));
	update_contacts(user, node, true);
	return true;
end

module:hook("iq-set/host/jabber:iq:register:query", function (event)
	local origin, stanza = event.origin, event.stanza;
	local query = stanza.tags[1];
	local user, node = user_of(stanza);
	if not user then
		origin.send(st.error_reply(stanza, "auth", "forbidden", "Only users of " .. parent .. " can register."));
		return true;
	end
	if query:get_child("remove") then
		return unregister(origin, stanza, user, node);
	end
	local username = trim(query:get_child_text("username"));
	local password = query:get_child_text("password") or "";
	if username == "" or password == "" then
		origin.send(st.error_reply(stanza, "modify", "not-acceptable",
			"Give your " .. network.name .. " user name and password."));
		return true;
	end
	local address = network.address(username);
	if not address then
		origin.send(st.error_reply(stanza, "modify", "not-acceptable",
			"A " .. network.name .. " user name is " .. network.rule .. "."));
		return true;
	end
	local ok, err = registrations:set(user, { username = address });
	if not ok then
		module:log("error", "cannot store the registration of %s: %s", user, err);
		origin.send(st.error_reply(stanza, "wait", "internal-server-error"));
		return true;
	end
	origin.send(st.reply(stanza));
	update_contacts(user, node, false);
	return true;
end);

-- ---- address translation

module:hook("iq-get/host/jabber:iq:gateway:query", function (event)
	event.origin.send(st.reply(event.stanza):query("jabber:iq:gateway")
		:text_tag("desc", "Enter the " .. network.name .. " address of the contact: " .. network.rule .. ".")
		:text_tag("prompt", network.name .. " address"));
	return true;
end);

module:hook("iq-set/host/jabber:iq:gateway:query", function (event)
	local origin, stanza = event.origin, event.stanza;
	local prompt = stanza.tags[1]:get_child("prompt");
	local text = prompt and trim(prompt:get_text());
	if not text or text == "" then
		origin.send(st.error_reply(stanza, "modify", "bad-request", "Give the contact's address in <prompt/>."));
		return true;
	end
	local address = network.address(text);
	origin.send(st.reply(stanza):query("jabber:iq:gateway")
		:text_tag("jid", address and contact_jid(address) or "null"));
	return true;
end);

-- Hollers reach users of this service only.
module:hook("iq-set/bare/jabber:iq:vokar:holler:send:query", function (event)
	local text = network.name .. " contacts cannot be hollered.";
	event.origin.send(st.error_reply(event.stanza, "cancel", "feature-not-implemented", text):up()
		:tag("query", { xmlns = "jabber:iq:vokar:holler:send" }):text(text));
	return true;
end);

-- ---- presence

-- To the transport itself: a registered user coming online (or probing)
-- gets the transport's presence and that of the contacts.
local function presence_to_transport(event)
	local stanza = event.stanza;
	local user, node = user_of(stanza);
	local presence_type = stanza.attr.type;
	if not user or not (presence_type == nil or presence_type == "probe" or presence_type == "subscribe") then
		return true;
	end
	if not registration_of(user) then return true; end
	if presence_type == "subscribe" then
		module:send(st.presence({ from = host, to = user, type = "subscribed" }));
	end
	module:send(st.presence({ from = host, to = stanza.attr.from }));
	if presence_type == nil then
		update_contacts(user, node, false);
	end
	return true;
end

local function presence_to_contact(event)
	local stanza = event.stanza;
	local user = user_of(stanza);
	local presence_type = stanza.attr.type;
	if not user then return true; end
	local contact = jid.bare(stanza.attr.to);
	local address = jid.unescape(jid.node(contact));
	local known = contacts[address] ~= nil;
	local registered = registration_of(user) ~= nil;
	if presence_type == "subscribe" then
		-- Left pending until the user registers.
		if registered then
			module:send(st.presence({ from = contact, to = user, type = known and "subscribed" or "unsubscribed" }));
			if known then module:send(contact_presence(contact, address, user)); end
		end
	elseif presence_type == "probe" then
		local online = registered and known;
		module:send(contact_presence(contact, address, stanza.attr.from, not online and "unavailable" or nil));
	elseif presence_type == "unsubscribe" and known then
		module:send(contact_presence(contact, address, user, "unavailable"));
	end
	return true;
end

module:hook("presence/host", presence_to_transport);
module:hook("presence/bare", presence_to_contact);
module:hook("presence/full", presence_to_contact);

-- ---- messages

-- A message the legacy network did not take goes back as a gateway returns
-- it: from the transport itself, with the body, so that the user sees which
-- message failed.
local function message_failed(stanza, body, error_type, condition, text)
	module:send(st.message({ from = host, to = stanza.attr.from, id = stanza.attr.id, type = "error" })
		:text_tag("body", body)
		:tag("error", { type = error_type })
			:tag(condition, { xmlns = "urn:ietf:params:xml:ns:xmpp-stanzas" }):up()
			:tag("text", { xmlns = "urn:ietf:params:xml:ns:xmpp-stanzas" }):text(text):up()
		:up());
end

local function message_to_contact(event)
	local stanza = event.stanza;
	local message_type = stanza.attr.type;
	if message_type == "error" or message_type == "groupchat" then return true; end
	local body = stanza:get_child_text("body");
	if not body then return true; end -- chat states and the like
	local user = user_of(stanza);
	if not user or not registration_of(user) then
		message_failed(stanza, body, "auth", "registration-required",
			"Register with the " .. transport_name .. " first.");
		return true;
	end
	local contact = jid.bare(stanza.attr.to);
	local address = jid.unescape(jid.node(contact));
	if not contacts[address] then
		message_failed(stanza, body, "cancel", "item-not-found",
			"There is no " .. network.name .. " user " .. address .. ".");
		return true;
	end
	module:send(st.message({ from = contact, to = stanza.attr.from,
		type = message_type == "normal" and "normal" or "chat" }):text_tag("body", "You said: " .. body));
	return true;
end

module:hook("message/bare", message_to_contact);
module:hook("message/full", message_to_contact);
-- Nothing to say to the transport itself.
module:hook("message/host", function () return true; end);
