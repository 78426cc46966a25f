-- Makes the operator's echo account a friend of every user: at an account's
-- first login (accounts are made outside the server, so it never sees a
-- registration) the echo account goes into the user's roster and the user
-- into the echo account's, subscribed both ways, before the client asks for
-- its roster. Each account is befriended once: one that later removes the
-- echo account keeps it removed. The echo account is never its own friend.
--
--   vokar_echo_account    the echo account's user name (empty: none)
--   vokar_echo_befriend   true to befriend

local jid_join = require "util.jid".join;
local nodeprep = require "util.encodings".stringprep.nodeprep;
local rostermanager = require "core.rostermanager";

local host = module.host;
local echo_user = nodeprep(module:get_option_string("vokar_echo_account", "") or "");
local enabled = module:get_option_boolean("vokar_echo_befriend", false);
-- Per user: { done = true } once befriended.
local befriended = module:open_store("vokar_echo_befriend");

if not enabled or not echo_user or echo_user == "" then
	return;
end
local echo_jid = jid_join(echo_user, host);

-- Adds `contact` to `username`'s roster with subscription both (keeping a
-- name already given), and tells the user's online clients.
local function add_friend(username, contact, name)
	local roster, err = rostermanager.load_roster(username, host);
	if not roster then
		return nil, err;
	end
	local item = roster[contact] or { groups = {} };
	item.subscription = "both";
	item.ask = nil;
	item.name = item.name or name;
	roster[contact] = item;
	local ok, save_err = rostermanager.save_roster(username, host, roster, contact);
	if not ok then
		return nil, save_err;
	end
	rostermanager.roster_push(username, host, contact);
	return true;
end

module:hook("resource-bind", function (event)
	local username = event.session.username;
	if not username or username == echo_user then
		return;
	end
	local done, err = befriended:get(username);
	if err then
		module:log("error", "cannot read whether %s has the echo account: %s", username, err);
		return;
	end
	if done and done.done then
		return;
	end
	local user_jid = jid_join(username, host);
	local ok, add_err = add_friend(username, echo_jid, "Echo");
	if ok then
		ok, add_err = add_friend(echo_user, user_jid, nil);
	end
	if not ok then
		module:log("error", "cannot befriend %s and the echo account: %s", user_jid, tostring(add_err));
		return;
	end
	local stored, store_err = befriended:set(username, { done = true });
	if not stored then
		module:log("error", "cannot record that %s has the echo account: %s", user_jid, store_err);
	end
end);
