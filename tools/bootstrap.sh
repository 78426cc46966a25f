#!/usr/bin/env bash
# Installs the Debian packages that building and testing Vokar need. As root it
# installs what is missing; otherwise it prints the apt-get line and fails.
# This is the one place where the project's dependencies are named.
set -euo pipefail

PACKAGES=(
  # toolchain
  cmake ninja-build g++ clang libclang-rt-14-dev make pkg-config
  # formatting check of CI
  clang-format
  # libraries
  libssl-dev libsqlite3-dev
  # the voice codecs: Speex narrowband and GSM 06.10
  libspeex-dev libgsm1-dev
  # SDL2 for the audio devices (microphone and speaker) and the user
  # interface, with its font and image libraries, and Liberation Sans (drawn
  # for Arial)
  libsdl2-dev libsdl2-ttf-dev libsdl2-image-dev fonts-liberation
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # expat: the reference parser the XML benchmark compares against
  libexpat1-dev
  # libosip2: the reference parser the SIP benchmark compares against
  libosip2-dev
  # the operator's XMPP service: Prosody with Cyrus SASL DIGEST-MD5 (its users
  # in a sasldb written by saslpasswd2); lua-unbound keeps Prosody quiet
  prosody prosody-modules lua-cyrussasl lua-unbound sasl2-bin libsasl2-modules
  # the operator's SIP service: Kamailio, reading accounts through SQLite
  kamailio kamailio-sqlite-modules
  # the operator's STUN service: stund
  stun-server
  # packet filter for the transport-probe tests (used only inside a private
  # network namespace that the test makes)
  iptables
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Install them with:" >&2
  echo "  sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
