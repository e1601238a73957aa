#!/usr/bin/env bash
# Installs the Debian packages named in $PACKAGES, idempotently and without questions.
# Runs apt-get update only when something is missing. Only root installs: for anyone else a
# missing package ends the script with the command to run as root. Installing the Firebird
# server package never starts it; a server that was running before is left alone.
set -euo pipefail

missing=()
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Run this as root first, in $(pwd): make deps" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive

echo "Installing: ${missing[*]}"
server_was_running=0
pgrep -f '^/usr/sbin/firebird' >/dev/null 2>&1 && server_was_running=1
# Keep package scripts from starting services (the Firebird server) during the install.
policy=/usr/sbin/policy-rc.d
created_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | tee "$policy" >/dev/null
  chmod +x "$policy"
  created_policy=1
fi
cleanup() { [ "$created_policy" -eq 1 ] && rm -f "$policy"; return 0; }
trap cleanup EXIT

apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"

# Should a package script have started the machine's server anyway, stop what it started.
if [ "$server_was_running" -eq 0 ] && pgrep -f '^/usr/sbin/firebird' >/dev/null 2>&1; then
  service firebird3.0 stop >/dev/null 2>&1 || true
fi
