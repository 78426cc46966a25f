#pragma once

namespace vokar::operatord {

// The whole daemon: reads the configuration named by --config FILE (else by
// VOKAR_OPERATOR_CONF, else the compiled-in defaults), starts the services
// listed under operatord_services, prints the readiness line, and serves
// until SIGTERM or SIGINT. Returns the exit code: 0 after a signal, 1 when
// a service cannot start, 2 for a bad command line or configuration.
int run_daemon(int argc, char** argv);

} // namespace vokar::operatord
