-- The version check a client makes once per login:
--
--   <query xmlns="jabber:iq:vokar:services:versionupdate" method="checkupdates">
--     <os>wm</os><version>2.2</version></query>
--
-- is answered with update="true" when the client is older than
-- vokar_latest_version or than vokar_force_update_below, and
-- forceupdate="true" in the second case; both "false" otherwise. An answer
-- with update="true" also carries <updateurl/> and <message/>. vokar-xmpp
-- sets the options from operator.conf (latest_version, force_update_below,
-- update_url, update_message); an empty version offers nothing.

local st = require "util.stanza";

local xmlns_version = "jabber:iq:vokar:services:versionupdate";

-- Versions are dot-separated numbers, compared number by number ("2.10" is
-- newer than "2.9"; a missing number counts as 0). Anything else in a part
-- (a suffix such as "-beta") is ignored after its leading digits.
local function parse(text)
	if not text or not text:match("^%s*%d") then return nil; end
	local parts = {};
	for part in text:gmatch("[^.]+") do
		table.insert(parts, tonumber(part:match("^%s*(%d+)")) or 0);
	end
	return parts;
end

local function older(a, b)
	for i = 1, math.max(#a, #b) do
		local x, y = a[i] or 0, b[i] or 0;
		if x ~= y then return x < y; end
	end
	return false;
end

local function option_version(name)
	local text = module:get_option_string(name, "");
	if text == "" then return nil; end
	local version = parse(text);
	if not version then
		module:log("error", "%s '%s' is not a version; no update is offered for it", name, text);
	end
	return version;
end

local latest = option_version("vokar_latest_version");
local force_below = option_version("vokar_force_update_below");
local update_url = module:get_option_string("vokar_update_url", "");
local update_message = module:get_option_string("vokar_update_message", "");

module:hook("iq-set/self/" .. xmlns_version .. ":query", function (event)
	local origin, stanza = event.origin, event.stanza;
	local query = stanza.tags[1];
	if query.attr.method ~= "checkupdates" then
		origin.send(st.error_reply(stanza, "modify", "bad-request", "The only method is checkupdates."));
		return true;
	end
	local version = parse(query:get_child_text("version"));
	if not version then
		origin.send(st.error_reply(stanza, "modify", "bad-request", "Give the client's version, such as 2.2."));
		return true;
	end
	local force = force_below ~= nil and older(version, force_below);
	local update = force or (latest ~= nil and older(version, latest));
	local reply = st.reply(stanza):tag("query", {
		xmlns = xmlns_version;
		method = "checkupdates";
		update = update and "true" or "false";
		forceupdate = force and "true" or "false";
	});
	if update then
		reply:text_tag("updateurl", update_url):text_tag("message", update_message);
	end
	origin.send(reply);
	return true;
end);
