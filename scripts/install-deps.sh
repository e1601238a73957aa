#!/usr/bin/env bash
# Installs the Debian packages named in $PACKAGES, idempotently and without questions.
# Runs apt-get update only when something is missing. Only root installs: for anyone else a
# missing package ends the script with the command to run as root. Installing the Firebird
# server or nginx never starts the machine's service; one that was running before is left alone.
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
# The machine's nginx is the one whose master wrote the pid file of Debian's configuration; the
# tests' private instances keep their pid files in folders of their own.
machine_nginx_pid() {
  local pid
  pid=$(cat /run/nginx.pid 2>/dev/null) || return 1
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && echo "$pid"
}
nginx_was_running=0
machine_nginx_pid >/dev/null && nginx_was_running=1
# Keep package scripts from starting services (the Firebird server, nginx) during the install.
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

# Should a package script have started a machine's service anyway, stop what it started.
if [ "$server_was_running" -eq 0 ] && pgrep -f '^/usr/sbin/firebird' >/dev/null 2>&1; then
  service firebird3.0 stop >/dev/null 2>&1 || true
fi
if [ "$nginx_was_running" -eq 0 ] && pid=$(machine_nginx_pid); then
  service nginx stop >/dev/null 2>&1 || kill -QUIT "$pid" 2>/dev/null || true
fi
