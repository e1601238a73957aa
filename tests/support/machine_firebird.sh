#!/usr/bin/env bash
# The machine's own Firebird files: `record FILE` writes their checksums, `check FILE` fails when
# any of them changed, appeared or vanished since. The suites that run a server are placed
# between the two, so a suite that wrote the machine's security database or configuration fails.
set -euo pipefail
mode=$1
list=$2
files=(/var/lib/firebird/3.0/system/security3.fdb /etc/firebird/3.0/firebird.conf
       /etc/firebird/3.0/databases.conf /etc/firebird/3.0/SYSDBA.password)
now() {
  for f in "${files[@]}"; do
    if [ -e "$f" ]; then sha256sum "$f"; else echo "absent  $f"; fi
  done
}
case "$mode" in
  record) now > "$list"; cat "$list" ;;
  check)
    if ! diff <(cat "$list") <(now); then
      echo "the machine's Firebird files changed during the server suites"
      exit 1
    fi
    echo "unchanged: ${files[*]}" ;;
  *) echo "usage: $0 record|check FILE" >&2; exit 2 ;;
esac
