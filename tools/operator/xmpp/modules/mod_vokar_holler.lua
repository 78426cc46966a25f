-- Hollers: a user asks the server to tell an offline friend "I was looking
-- for you"; the friend collects the list of senders at the next login.
--
--   send      iq set to the friend's JID   stores the Holler, or refuses it
--   retrieve  iq set to the server         "a@d, b@d"; the list is then empty
--   setallow  iq set to the server         "enable" or "disable"
--
-- Every answer to send carries a <query/> whose text tells the sender what
-- happened (the client shows it); a refusal is an error iq holding that
-- query as well as the stanza error. Only friends may holler: the friend's
-- roster must let the sender see the friend's presence (subscription "from"
-- or "both"), which is also how the sender knows the friend is offline.
-- One Holler per sender is kept until collected, in the order they came.

local st = require "util.stanza";
local jid_bare = require "util.jid".bare;
local jid_split = require "util.jid".split;
local is_contact_subscribed = require "core.rostermanager".is_contact_subscribed;

local xmlns_send = "jabber:iq:vokar:holler:send";
local xmlns_retrieve = "jabber:iq:vokar:holler:retrieve";
local xmlns_setallow = "jabber:iq:vokar:holler:setallow";

local bare_sessions = prosody.bare_sessions;
local host = module.host;
-- Per user: { senders = { bare JID, ... }, disabled = true or nil }.
local store = module:open_store("vokar_holler");

local function load_record(username)
	local record, err = store:get(username);
	if err then return nil, err; end
	record = record or {};
	record.senders = record.senders or {};
	return record;
end

local function answer(origin, stanza, xmlns, text)
	origin.send(st.reply(stanza):tag("query", { xmlns = xmlns }):text(text));
	return true;
end

local function refuse(origin, stanza, xmlns, condition, text, error_type)
	origin.send(st.error_reply(stanza, error_type or "cancel", condition, text):up()
		:tag("query", { xmlns = xmlns }):text(text));
	return true;
end

local function online(bare)
	local user = bare_sessions[bare];
	if not user then return false; end
	for _, session in pairs(user.sessions) do
		if session.presence then return true; end
	end
	return false;
end

local function send_holler(event)
	local origin, stanza = event.origin, event.stanza;
	if origin.type ~= "c2s" or not origin.username then
		return refuse(origin, stanza, xmlns_send, "forbidden", "Only users of this service can holler.");
	end
	local sender = origin.username .. "@" .. origin.host;
	-- A stanza to the sender's own bare JID arrives with no 'to'.
	local to = stanza.attr.to and jid_bare(stanza.attr.to);
	if not to or to == sender then
		return refuse(origin, stanza, xmlns_send, "bad-request", "You cannot holler yourself.", "modify");
	end
	-- Routed here, so `to` is a user of this host.
	local username = jid_split(to);
	if not is_contact_subscribed(username, host, sender) then
		return refuse(origin, stanza, xmlns_send, "forbidden",
			"You can holler only friends who have accepted you.");
	end
	if online(to) then
		return refuse(origin, stanza, xmlns_send, "not-acceptable",
			to .. " is online now; send a message instead.");
	end
	local record, err = load_record(username);
	if not record then
		module:log("error", "cannot read the Hollers of %s: %s", to, err);
		return refuse(origin, stanza, xmlns_send, "internal-server-error",
			"Your Holler could not be stored; try again later.", "wait");
	end
	if record.disabled then
		return refuse(origin, stanza, xmlns_send, "not-allowed", to .. " does not accept Hollers.");
	end
	local known = false;
	for _, jid in ipairs(record.senders) do
		if jid == sender then known = true; break; end
	end
	if not known then
		table.insert(record.senders, sender);
		local ok, store_err = store:set(username, record);
		if not ok then
			module:log("error", "cannot store a Holler for %s: %s", to, store_err);
			return refuse(origin, stanza, xmlns_send, "internal-server-error",
				"Your Holler could not be stored; try again later.", "wait");
		end
	end
	return answer(origin, stanza, xmlns_send, to .. " will see your Holler at the next login.");
end

local function retrieve_hollers(event)
	local origin, stanza = event.origin, event.stanza;
	local username = origin.username;
	local record, err = load_record(username);
	if not record then
		module:log("error", "cannot read the Hollers of %s: %s", username, err);
		origin.send(st.error_reply(stanza, "wait", "internal-server-error"));
		return true;
	end
	local text = table.concat(record.senders, ", ");
	if #record.senders > 0 then
		-- Cleared before the answer goes out: a failure keeps them for the
		-- next try instead of showing them twice.
		record.senders = nil;
		local ok, store_err = store:set(username, record.disabled and record or nil);
		if not ok then
			module:log("error", "cannot clear the Hollers of %s: %s", username, store_err);
			origin.send(st.error_reply(stanza, "wait", "internal-server-error"));
			return true;
		end
	end
	return answer(origin, stanza, xmlns_retrieve, text);
end

local function set_allowed(event)
	local origin, stanza = event.origin, event.stanza;
	local username = origin.username;
	local choice = (stanza.tags[1]:get_text() or ""):match("^%s*(.-)%s*$");
	if choice ~= "enable" and choice ~= "disable" then
		origin.send(st.error_reply(stanza, "modify", "bad-request", "Say enable or disable."));
		return true;
	end
	local record, err = load_record(username);
	local ok = record ~= nil;
	if ok then
		record.disabled = choice == "disable" or nil;
		-- The default setting and no Hollers: nothing to keep.
		if not record.disabled and #record.senders == 0 then
			record = nil;
		end
		ok, err = store:set(username, record);
	end
	if not ok then
		module:log("error", "cannot change the Holler setting of %s: %s", username, err);
		origin.send(st.error_reply(stanza, "wait", "internal-server-error"));
		return true;
	end
	return answer(origin, stanza, xmlns_setallow,
		choice == "enable" and "Friends can holler you." or "Friends cannot holler you.");
end

-- send: to a friend's bare JID (or, by mistake, to a full JID, which would
-- otherwise be routed to that resource).
module:hook("iq-set/bare/" .. xmlns_send .. ":query", send_holler);
module:hook("iq/full", function (event)
	local query = event.stanza.tags[1];
	if event.stanza.attr.type == "set" and query and query.name == "query"
		and query.attr.xmlns == xmlns_send then
		return send_holler(event);
	end
end, 1);
module:hook("iq-set/self/" .. xmlns_retrieve .. ":query", retrieve_hollers);
module:hook("iq-set/self/" .. xmlns_setallow .. ":query", set_allowed);
