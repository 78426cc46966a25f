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
STUN=$SRC/tools/operator/stun/vokar-stun
CLIENT=$BUILD/app/vokar
CLI=$BUILD/cli/vokar-cli
ECHO_NUMBER=15550000

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "make run: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); the client needs one." >&2
    echo "Run it from a desktop session, or over 'ssh -X'." >&2
    exit 1
fi

mkdir -p "$RUN/xmpp" "$RUN/sip" "$RUN/home" "$RUN/echo-home"
chmod 700 "$RUN/home" "$RUN/echo-home"

random_password() {
    tr -dc 'a-z0-9' </dev/urandom | head -c 10 || true
}

# The echo account's password, made once; the echo service reads it from
# operator.conf, so operator.conf is owner-only.
ECHO_FILE=$RUN/echo-account
fresh_echo=0
if [[ ! -s "$ECHO_FILE" ]]; then
    (umask 077 && printf '%s %s\n' "$ECHO_NUMBER" "$(random_password)" >"$ECHO_FILE")
    fresh_echo=1
fi
read -r echo_number echo_password <"$ECHO_FILE"

# Fixed, unprivileged ports, the same at every run.
services="echo_udp echo_tcp tunnel web sip_front relay"
rm -f "$CONF"
(umask 077 && : >"$CONF")
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
stun_alt_host = 127.0.0.2
stun_alt_port = 15479
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
echo_account = $echo_number
echo_account_password = $echo_password
echo_account_befriend = 1
CONF
"$ACCOUNTS" --config "$CONF" new-salt >/dev/null

pids=()
echo_pid=
echo_stdin=
stop_all() {
    local pid i
    # The echo service logs out (and unregisters) when its input ends; it
    # gets up to 5 s for that before it is stopped with the rest.
    if [[ -n "$echo_stdin" ]]; then
        exec {echo_stdin}>&-
        for ((i = 0; i < 50; i++)); do
            kill -0 "$echo_pid" 2>/dev/null || break
            sleep 0.1
        done
    fi
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
}
trap stop_all EXIT
trap 'exit 130' INT TERM

# Waits up to 20 s for process PID (NAME) to print a line starting with
# READY into RUN/NAME.out, and shows that line; false when it exits first or
# does not print it in time, with the end of RUN/NAME.log on stderr.
wait_ready() {
    local name=$1 ready=$2 pid=$3 i line
    for ((i = 0; i < 200; i++)); do
        line=$(awk -v ready="$ready" 'index($0, ready) == 1 { print; exit }' "$RUN/$name.out" 2>/dev/null || true)
        if [[ -n "$line" ]]; then
            echo "  $line"
            return 0
        fi
        if ! kill -0 "$pid" 2>/dev/null; then
            break
        fi
        sleep 0.1
    done
    echo "make run: $name did not start; see $RUN/$name.log:" >&2
    tail -n 20 "$RUN/$name.log" >&2
    return 1
}

# Starts NAME in the background with its output in RUN/NAME.out and its
# errors in RUN/NAME.log, and waits for its readiness line.
start() {
    local name=$1 ready=$2
    shift 2
    "$@" >"$RUN/$name.out" 2>"$RUN/$name.log" &
    pids+=($!)
    wait_ready "$name" "$ready" $! || exit 1
}

echo "Starting the operator stack on 127.0.0.1:"
start xmpp "vokar-xmpp ready" "$XMPP" --config "$CONF" --dir "$RUN/xmpp"
start operatord "vokar-operatord ready" "$OPERATORD" --config "$CONF"
start stun "vokar-stun ready" "$STUN" --config "$CONF"

# A demo account, made once with a random password.
DEMO=$RUN/demo-account
if [[ ! -s "$DEMO" ]] || ! "$ACCOUNTS" --config "$CONF" --dir "$RUN/xmpp" list | grep -q "^15550100	"; then
    password=$(random_password)
    "$ACCOUNTS" --config "$CONF" --dir "$RUN/xmpp" delete 15550100 >/dev/null 2>&1 || true
    printf '%s\n' "$password" |
        "$ACCOUNTS" --config "$CONF" --dir "$RUN/xmpp" create 15550100 - --nickname Demo --country 1
    printf '15550100 %s\n' "$password" >"$DEMO"
    chmod 600 "$DEMO"
fi
read -r number password <"$DEMO"

# The echo account, made when its password is new or it is missing.
if [[ $fresh_echo == 1 ]] || ! "$ACCOUNTS" --config "$CONF" --dir "$RUN/xmpp" list | grep -q "^$echo_number	"; then
    "$ACCOUNTS" --config "$CONF" --dir "$RUN/xmpp" delete "$echo_number" >/dev/null 2>&1 || true
    printf '%s\n' "$echo_password" |
        "$ACCOUNTS" --config "$CONF" --dir "$RUN/xmpp" create "$echo_number" - --nickname Echo --country 1
fi
# Kamailio reads the accounts from the store the account above lives in.
start sip "vokar-sip ready" "$SIP" --config "$CONF" --dir "$RUN/sip"

# The echo service: the headless client on the echo account (from
# operator.conf). Its input is a pipe this script holds open; closing it at
# the end makes the echo log out. A failed start is reported, not fatal: the
# client works without it.
echo_note="call $echo_number to hear yourself, or chat with it"
if [[ -x "$CLI" ]]; then
    ECHO_IN=$RUN/echo.in
    rm -f "$ECHO_IN"
    mkfifo -m 600 "$ECHO_IN"
    "$CLI" --echo --home "$RUN/echo-home" --config "$CONF" <"$ECHO_IN" >"$RUN/echo.out" 2>"$RUN/echo.log" &
    echo_pid=$!
    pids+=("$echo_pid")
    exec {echo_stdin}>"$ECHO_IN"
    wait_ready echo '{"ready":true' "$echo_pid" || echo_note="not running (see $RUN/echo.log)"
else
    echo_note="not running: build $CLI first"
fi
echo
echo "Demo account: number $number, password $password"
echo "Echo: $echo_note"
echo "Client data: $RUN/home (logs of the services: $RUN/*.log)"
echo

if [[ -n "$echo_stdin" ]]; then
    VOKAR_HOME=$RUN/home VOKAR_OPERATOR_CONF=$CONF "$CLIENT" {echo_stdin}>&- &
else
    VOKAR_HOME=$RUN/home VOKAR_OPERATOR_CONF=$CONF "$CLIENT" &
fi
client=$!
pids+=("$client")
wait "$client" || true
