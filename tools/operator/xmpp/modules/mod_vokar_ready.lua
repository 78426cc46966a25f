-- Tells whoever started the server that it is ready: once the server has
-- started, checks that the client port is open and prints
--   vokar-xmpp ready xmpp=HOST:PORT domain=DOMAIN
-- on stdout. A port that could not be opened (taken by another process, an
-- address not on this machine) stops the server with status 1 instead, so
-- a starter waiting for the line learns at once that it failed.

module:set_global();

local portmanager = require "core.portmanager";

local function first(option)
	local value = module:get_option(option);
	if type(value) == "table" then value = value[1]; end
	return value;
end

local function virtual_host()
	for name, host in pairs(prosody.hosts) do
		if host.type == "local" then return name; end
	end
end

module:hook_global("server-started", function ()
	local interface = first("c2s_interfaces");
	local port = tonumber(first("c2s_ports"));
	local domain = virtual_host();
	local service = interface and port and portmanager.get_service_at(interface, port);
	if not (service and service.name == "c2s" and domain) then
		io.stderr:write(("vokar-xmpp: cannot listen for clients on %s:%s (see prosody.log)\n")
			:format(tostring(interface), tostring(port)));
		io.stderr:flush();
		prosody.shutdown("client port not open", 1);
		return;
	end
	io.stdout:write(("vokar-xmpp ready xmpp=%s:%d domain=%s\n"):format(interface, port, domain));
	io.stdout:flush();
end);
