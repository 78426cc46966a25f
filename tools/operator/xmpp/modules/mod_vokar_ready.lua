-- Tells whoever started the server that it is ready: once the server has
-- started, checks that the client port is open and that DIGEST-MD5 works,
-- and prints
--   vokar-xmpp ready xmpp=HOST:PORT domain=DOMAIN
-- on stdout. Otherwise (the port taken by another process or not on this
-- machine, Cyrus SASL missing) the server stops with status 1, so a starter
-- waiting for the line learns at once that it failed rather than meeting a
-- server that refuses every client.

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

local function digest_md5_problem(domain)
	local users = prosody.hosts[domain].users;
	if not (users and users.name == "cyrus") then
		return "the Cyrus SASL provider did not load (packages prosody-modules, lua-cyrussasl)";
	end
	local handler = users.get_sasl_handler();
	if not (handler and handler:mechanisms()["DIGEST-MD5"]) then
		return "Cyrus SASL offers no DIGEST-MD5 (package libsasl2-modules)";
	end
end

local function give_up(problem)
	io.stderr:write("vokar-xmpp: ", problem, " (see prosody.log)\n");
	io.stderr:flush();
	-- Shutting down needs the main thread and loop, which run once start-up
	-- is over.
	module:add_timer(0, function ()
		prosody.main_thread:run(function ()
			prosody.shutdown(problem, 1);
		end);
	end);
end

module:hook_global("server-started", function ()
	local interface = first("c2s_interfaces");
	local port = tonumber(first("c2s_ports"));
	local domain = virtual_host();
	local service = interface and port and portmanager.get_service_at(interface, port);
	if not (service and service.name == "c2s" and domain) then
		give_up(("cannot listen for clients on %s:%s"):format(tostring(interface), tostring(port)));
		return;
	end
	local problem = digest_md5_problem(domain);
	if problem then
		give_up(problem);
		return;
	end
	io.stdout:write(("vokar-xmpp ready xmpp=%s:%d domain=%s\n"):format(interface, port, domain));
	io.stdout:flush();
end);
