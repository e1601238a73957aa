#!/usr/bin/env bash
# The Debian package as a user meets it, one step per call, run as root inside a fresh minimal
# Debian 12 root (scripts/fresh-check.sh copies it there):
#
#   install  apt-get installs the package; root makes a database with isql-fb, and so uses the
#            embedded engine first; an ordinary user runs the installed console program on that
#            database against the fixture site, through the edited /etc/lirenta/BaseKavro.ini
#   lint     lintian finds nothing; desktop-file-validate and appstreamcli find nothing in the
#            installed desktop entry and metainfo file; the package's version is the one
#            --version prints and the changelog's top entry names; man shows both manual pages
#   upgrade  the same package repacked with a higher version installs without a question and
#            keeps the edited settings file; both programs still run
#   remove   apt-get remove takes the programs and keeps the settings file
#   purge    apt-get purge takes /etc/lirenta too, and no file the package listed is left
#
# Usage: package-check.sh STEP PACKAGE USER FOLDER
#   PACKAGE  the .deb file
#   USER     the ordinary user
#   FOLDER   that user's folder, holding the fixture site program (lirenta-fixture-site) and the
#            demo's songs.sql and site/; the steps keep their files there
set -euo pipefail

step=$1 deb=$2 user=$3 check=$4
export DEBIAN_FRONTEND=noninteractive
db=$check/kavro.fdb
settings=/etc/lirenta/BaseKavro.ini
desktop=/usr/share/applications/lirenta.desktop
metainfo=/usr/share/metainfo/org.example.lirenta.metainfo.xml
# What dpkg -L listed while the package was installed, for the purge to account for.
listed=$check/package-files
# How long the window program is left open before it is asked to close.
window_seconds=5

fail() { echo "FAIL: $*" >&2; exit 1; }
# What each step proved, one line each, for the check's summary.
say() { echo "package-check: $*"; }

composers() {
  echo 'SELECT COUNT(*) FROM Tb_Musicas WHERE Mus_Compositor IS NOT NULL;' |
    isql-fb -q -user SYSDBA -password velkadrum "$db" | tr -dc '0-9'
}

# The installed console program, run by the user against the fixture site; it must end with
# status 0 and its completion message.
run_console() {
  local site port="" status=0
  cd "$check"
  ./lirenta-fixture-site --root site --port 0 --idle-seconds 300 >site.log 2>&1 &
  site=$!
  for _ in $(seq 1 100); do
    port=$(head -n 1 site.log | tr -dc '0-9')
    [ -n "$port" ] && break
    sleep 0.05
  done
  [ -n "$port" ] || fail "the fixture site did not start: $(cat site.log)"
  runuser -u "$user" -- env LIRENTA_LYRICS_URL="http://127.0.0.1:$port/" lirenta-console \
    >run.log || status=$?
  kill "$site"
  wait "$site" 2>/dev/null || true
  cat run.log
  [ "$status" -eq 0 ] || fail "lirenta-console ended with status $status"
  grep -q 'Atualiza' run.log || fail "lirenta-console did not complete its run"
}

# The installed window program, run by the user on a virtual display: it opens its window and
# the database, and closes when asked to (SIGTERM) after $window_seconds, with status 0 and
# nothing on standard error (a database it cannot open would be named there).
run_window() {
  local display=:7 xvfb status=0
  mkdir -p -m 1777 /tmp/.X11-unix
  runuser -u "$user" -- Xvfb "$display" -nolisten tcp >"$check/xvfb.log" 2>&1 &
  xvfb=$!
  for _ in $(seq 1 100); do
    [ -S "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.05
  done
  [ -S "/tmp/.X11-unix/X${display#:}" ] || fail "Xvfb did not start: $(cat "$check/xvfb.log")"
  # --foreground: the signal goes to the program alone, once. Without it timeout signals its
  # whole process group as well, and a second SIGTERM ends the program at once (status 143).
  runuser -u "$user" -- env DISPLAY="$display" timeout --foreground --preserve-status -s TERM \
    -k 10 "$window_seconds" lirenta 2>"$check/window.err" || status=$?
  kill "$xvfb"
  wait "$xvfb" 2>/dev/null || true
  [ "$status" -eq 0 ] || fail "lirenta ended with status $status: $(cat "$check/window.err")"
  [ ! -s "$check/window.err" ] || fail "lirenta wrote on standard error: $(cat "$check/window.err")"
  say "lirenta ran ${window_seconds} s on a virtual display and closed when asked"
}

installed_version() { dpkg-query -W -f='${Version}' lirenta; }

case $step in
install)
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "$deb" firebird3.0-utils </dev/null
  for f in /usr/bin/lirenta /usr/bin/lirenta-console "$desktop" "$metainfo" \
    /usr/share/icons/hicolor/scalable/apps/lirenta.svg /usr/share/doc/lirenta/README.md \
    /usr/share/doc/lirenta/copyright /usr/share/doc/lirenta/changelog.gz \
    /usr/share/man/man1/lirenta.1.gz /usr/share/man/man1/lirenta-console.1.gz; do
    test -e "$f" || fail "missing: $f"
  done
  grep -qx "$settings" /var/lib/dpkg/info/lirenta.conffiles || fail "$settings is not a conffile"
  cd "$check"
  { echo 'SET SQL DIALECT 1;'
    echo "CREATE DATABASE '$db' USER 'SYSDBA' PASSWORD 'velkadrum' DEFAULT CHARACTER SET NONE;"
    cat songs.sql; } >create.sql
  isql-fb -q -i create.sql
  chown -R "$user": "$check"
  before=$(composers)
  sed -i "s|^CAMINHO=.*|CAMINHO=$db|" "$settings"
  run_console
  after=$(composers)
  say "songs with a composer: $before before the run, $after after"
  [ "$after" -gt "$before" ] || fail "the run wrote no composer"
  ;;

lint)
  apt-get install -y -qq --no-install-recommends lintian man-db desktop-file-utils appstream \
    </dev/null
  # lintian warns when it runs as root; the package file is readable by anyone.
  report=$(runuser -u "$user" -- lintian --fail-on error,warning "$deb" 2>&1) ||
    fail "lintian:"$'\n'"$report"
  [ -z "$report" ] || fail "lintian:"$'\n'"$report"
  say "lintian: nothing to report on $(basename "$deb")"

  report=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate:"$'\n'"$report"
  [ -z "$report" ] || fail "desktop-file-validate:"$'\n'"$report"
  # --strict: a note fails the validation as a warning or an error does (pedantic hints aside).
  report=$(appstreamcli validate --no-net --strict "$metainfo" 2>&1) ||
    fail "appstreamcli validate:"$'\n'"$report"
  say "desktop-file-validate and appstreamcli: nothing to report on $desktop and $metainfo"

  version=$(dpkg-deb -f "$deb" Version)
  [ "$(basename "$deb")" = "lirenta_${version}_amd64.deb" ] ||
    fail "the package file $(basename "$deb") does not carry its version $version"
  [ "$(installed_version)" = "$version" ] || fail "dpkg has $(installed_version) installed, not $version"
  printed=$(lirenta-console --version)
  [ "$printed" = "lirenta-console $version" ] || fail "--version prints '$printed', the package is $version"
  top=$(zcat /usr/share/doc/lirenta/changelog.gz | sed -nE '1s/^lirenta \(([^)]+)\).*/\1/p')
  [ "$top" = "$version" ] || fail "the changelog's top entry is '$top', the package is $version"
  say "version $version: the package, its file name, --version and the changelog"

  for page in lirenta lirenta-console; do
    where=$(runuser -u "$user" -- man -w "$page")
    [ "$where" = "/usr/share/man/man1/$page.1.gz" ] || fail "man -w $page gives '$where'"
    shown=$(runuser -u "$user" -- env MANWIDTH=80 man "$page" 2>&1) || fail "man $page: $shown"
    grep -q "^NAME" <<<"$shown" || fail "man $page shows no NAME section:"$'\n'"$shown"
    grep -Eq "^ +$page +- " <<<"$shown" || fail "man $page does not name $page:"$'\n'"$shown"
    grep -q "BaseKavro.ini" <<<"$shown" || fail "man $page does not name the settings file"
  done
  runuser -u "$user" -- env MANWIDTH=80 man lirenta-console | grep -q -- '--report FILE' ||
    fail "man lirenta-console does not show the option --report FILE"
  say "man shows lirenta(1) and lirenta-console(1)"
  ;;

upgrade)
  apt-get install -y -qq --no-install-recommends xvfb </dev/null
  version=$(installed_version)
  newer=$version.1
  dpkg --compare-versions "$newer" gt "$version" || fail "$newer is not above $version"
  rm -rf /tmp/repack
  dpkg-deb -R "$deb" /tmp/repack
  sed -i "s/^Version: .*/Version: $newer/" /tmp/repack/DEBIAN/control
  dpkg-deb -b /tmp/repack "/tmp/lirenta_${newer}_amd64.deb" >/dev/null
  rm -rf /tmp/repack
  grep -qx "CAMINHO=$db" "$settings" || fail "$settings does not hold the edit of the install step"
  cp "$settings" "$check/settings-before-upgrade"
  # No standard input: a question about the settings file would fail the upgrade.
  apt-get install -y --no-install-recommends "/tmp/lirenta_${newer}_amd64.deb" </dev/null 2>&1 |
    tee "$check/upgrade.log"
  [ "$(installed_version)" = "$newer" ] || fail "after the upgrade dpkg has $(installed_version)"
  ! grep -q "Configuration file '$settings'" "$check/upgrade.log" || fail "the upgrade asked about $settings"
  cmp "$check/settings-before-upgrade" "$settings" || fail "the upgrade changed $settings"
  leftovers=$(find /etc/lirenta -name '*.dpkg-*')
  [ -z "$leftovers" ] || fail "the upgrade left $leftovers"
  say "upgraded $version -> $newer without a question; $settings kept its edit"
  run_console
  run_window
  ;;

remove)
  dpkg -L lirenta | grep -vx '/\.' >"$listed"
  apt-get remove -y lirenta </dev/null
  status=$(dpkg-query -W -f='${Status}' lirenta)
  [ "$status" = "deinstall ok config-files" ] || fail "after remove the package's status is '$status'"
  grep -qx "CAMINHO=$db" "$settings" || fail "remove did not keep the edited $settings"
  ! command -v lirenta-console >/dev/null || fail "lirenta-console is still on PATH"
  ! command -v lirenta >/dev/null || fail "lirenta is still on PATH"
  while read -r f; do
    [ "$f" = "$settings" ] && continue
    if [ -L "$f" ] || { [ -e "$f" ] && [ ! -d "$f" ]; }; then fail "remove left $f"; fi
  done <"$listed"
  say "removed: the programs are gone, $settings is kept"
  ;;

purge)
  apt-get purge -y lirenta </dev/null
  [ ! -e /etc/lirenta ] || fail "purge left /etc/lirenta: $(ls -la /etc/lirenta)"
  status=$(dpkg-query -W -f='${Status}' lirenta 2>/dev/null || true)
  [ -z "$status" ] || [ "$status" = "unknown ok not-installed" ] ||
    fail "after purge the package's status is '$status'"
  ! ls /var/lib/dpkg/info/lirenta.* 2>/dev/null || fail "dpkg still keeps files of lirenta"
  # A folder the package listed may stay only while another package owns it.
  while read -r f; do
    if [ -L "$f" ] || [ -e "$f" ]; then
      [ -d "$f" ] && [ ! -L "$f" ] && dpkg-query -S "$f" >/dev/null 2>&1 && continue
      fail "purge left $f"
    fi
  done <"$listed"
  say "purged: /etc/lirenta and all $(wc -l <"$listed") paths the package listed are gone, but for shared folders"
  ;;

*)
  fail "unknown step '$step' (install, lint, upgrade, remove, purge)"
  ;;
esac
