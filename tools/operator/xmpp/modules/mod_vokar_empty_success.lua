-- Sends every SASL <success/> empty. With Cyrus DIGEST-MD5 the server's
-- final step returns a buffer of stale bytes (tens of kilobytes) that ends
-- up base64-encoded inside <success/>; clients that expect the empty element
-- choke on it. The mechanisms offered here (DIGEST-MD5, whose rspauth comes
-- in a challenge, and PLAIN) never carry data in <success/>, so dropping
-- its text loses nothing.

module:set_global();

local filters = require "util.filters";
local st = require "util.stanza";

local xmlns_sasl = "urn:ietf:params:xml:ns:xmpp-sasl";

local function empty_success(stanza)
	if stanza.name == "success" and stanza.attr.xmlns == xmlns_sasl
		and (#stanza > 0 or #stanza.tags > 0) then
		return st.stanza("success", { xmlns = xmlns_sasl });
	end
	return stanza;
end

local function on_session(session)
	if session.type == "c2s_unauthed" then
		filters.add_filter(session, "stanzas/out", empty_success);
	end
end

filters.add_filter_hook(on_session);

function module.unload()
	filters.remove_filter_hook(on_session);
end
