#!/usr/bin/env bash
# Starts the operator stack on loopback and the client against it (`make run`).
# Everything lives under BUILD/run; closing the window or Ctrl-C stops every
# service this script started, by pid.
set -euo pipefail

BUILD=$(realpath "${1:-build}")
SRC=$(realpath "$(dirname "$0")/../..")
RUN=$BUILD/run
CONF=$RUN/operator.conf
OPERATORD=$BUILD/tools/operator/vokar-operatord
ACCOUNTS=$BUILD/tools/operator/vokar-accounts
XMPP=$SRC/tools/operator/xmpp/vokar-xmpp
SIP=$SRC/tools/operator/sip/vokar-sip
CLIENT=$BUILD/app/vokar

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "make run: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); the client needs one." >&2
    echo "Run it from a desktop session, or over 'ssh -X'." >&2
    exit 1
fi

mkdir -p "$RUN/xmpp" "$RUN/sip" "$RUN/home"
chmod 700 "$RUN/home"

# Fixed, unprivileged ports, the same at every run.
services="echo_udp echo_tcp tunnel web sip_front relay"
cat >"$CONF" <<CONF
# Written by make run at every start.
service_domain = vokar.test
sip_host = 127.0.0.1
sip_port = 15060
xmpp_host = 127.0.0.1
xmpp_port = 15222
web_host = 127.0.0.1
web_port = 15081
stun_host = 127.0.0.1
stun_port = 15478
server_ip = 127.0.0.1
server_port = 15080
tunnel_host = 127.0.0.1
tunnel_port = 15080
echo_host = 127.0.0.1
echo_udp_port = 15469
echo_tcp_port = 15002
relay_host = 127.0.0.3
relay_port = 10000
sip_relay_host = 127.0.0.1
sip_relay_port = 15060
sip_server_host = 127.0.0.1
sip_server_port = 15070
xmpp_dir = $RUN/xmpp
operatord_services = $services
CONF
"$ACCOUNTS" --config "$CONF" new-salt >/dev/null

pids=()
stop_all() {
    local pid
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
}
trap stop_all EXIT
trap 'exit 130' INT TERM

# Starts NAME in the background with its output in RUN/NAME.out and its
# errors in RUN/NAME.log, and waits up to 20 s for its readiness line.
start() {
    local name=$1 ready=$2
    shift 2
    "$@" >"$RUN/$name.out" 2>"$RUN/$name.log" &
    pids+=($!)
    local pid=$! i
    for ((i = 0; i < 200; i++)); do
        if grep -qs "^$ready" "$RUN/$name.out"; then
            echo "  $(grep "^$ready" "$RUN/$name.out" | head -1)"
            return 0
        fi
        if ! kill -0 "$pid" 2>/dev/null; then
            break
        fi
        sleep 0.1
    done
    echo "make run: $name did not start; see $RUN/$name.log:" >&2
    tail -n 20 "$RUN/$name.log" >&2
    exit 1
}

echo "Starting the operator stack on 127.0.0.1:"
start xmpp "vokar-xmpp ready" "$XMPP" --config "$CONF" --dir "$RUN/xmpp"
start operatord "vokar-operatord ready" "$OPERATORD" --config "$CONF"

# A demo account, made once with a random password.
DEMO=$RUN/demo-account
if [[ ! -s "$DEMO" ]] || ! "$ACCOUNTS" --config "$CONF" --dir "$RUN/xmpp" list | grep -q "^15550100	"; then
    password=$(tr -dc 'a-z0-9' </dev/urandom | head -c 10 || true)
    "$ACCOUNTS" --config "$CONF" --dir "$RUN/xmpp" delete 15550100 >/dev/null 2>&1 || true
    printf '%s\n' "$password" |
        "$ACCOUNTS" --config "$CONF" --dir "$RUN/xmpp" create 15550100 - --nickname Demo --country 1
    printf '15550100 %s\n' "$password" >"$DEMO"
    chmod 600 "$DEMO"
fi
read -r number password <"$DEMO"
# Kamailio reads the accounts from the store the account above lives in.
start sip "vokar-sip ready" "$SIP" --config "$CONF" --dir "$RUN/sip"
echo
echo "Demo account: number $number, password $password"
echo "Client data: $RUN/home (logs of the services: $RUN/*.log)"
echo

VOKAR_HOME=$RUN/home VOKAR_OPERATOR_CONF=$CONF "$CLIENT" &
client=$!
pids+=("$client")
wait "$client" || true
