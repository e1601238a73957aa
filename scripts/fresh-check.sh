#!/usr/bin/env bash
# The fresh-machine check: the README's two commands on a minimal Debian 12, then the Debian
# package installed on another.
#
#   1. A minimal Debian 12 root (debootstrap minbase, plus make and git) is made once per machine
#      under $LIRENTA_FRESH_CACHE (/var/cache/lirenta), from the Debian mirror that this
#      machine's own apt sources name.
#   2. A copy of it gets a clone of the repository's committed HEAD; `make test` and `make package`
#      run inside as root, with a clean environment and no service running; `make demo` runs as
#      an ordinary user made in that root, after root has used the embedded engine.
#   3. A second fresh copy installs the package with apt-get; root makes a database there with
#      isql-fb, and an ordinary user runs the installed console program on it against a local
#      fixture site. Then lintian finds nothing in the package, nor desktop-file-validate and
#      appstreamcli in its desktop entry and metainfo file, man shows its manual pages, an
#      upgrade keeps the edited settings file without a question and both programs still run,
#      remove keeps the settings file, and purge leaves nothing (scripts/package-check.sh).
#
# Every copy runs in a mount namespace of its own, so its /proc, /sys, /dev, /dev/pts and
# /dev/shm mounts vanish with it, even when the check is killed; the copies are removed at the
# end whatever happened. Exits non-zero, naming the failed step and the end of its log, on any
# failure.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
cache=${LIRENTA_FRESH_CACHE:-/var/cache/lirenta}
suite=bookworm
base=$cache/$suite-minbase
archives=$cache/apt-archives
logs=$cache/logs
# The mirror may be busy for a moment; a mirror that does not answer three times is down.
base_tries=3
base_retry_pause=20
# Lines of a failed step's log shown on the terminal.
tail_lines=80

say() { printf 'fresh-check: %s\n' "$*"; }
die() { say "$*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || die "must run as root (debootstrap, chroot and mounts need it)"
command -v unshare >/dev/null || die "unshare (util-linux) is missing"
if ! command -v debootstrap >/dev/null; then
  say "installing debootstrap"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null ||
    die "cannot install debootstrap"
fi
git -C "$top" rev-parse --verify -q HEAD >/dev/null || die "$top has no committed HEAD"

# "URI SUITE" for each Debian suite of this release in the machine's apt sources, one-line and
# deb822 forms alike.
debian_sources() {
  local one_line=() deb822=()
  [ -f /etc/apt/sources.list ] && one_line+=(/etc/apt/sources.list)
  for f in /etc/apt/sources.list.d/*.list; do [ -f "$f" ] && one_line+=("$f"); done
  for f in /etc/apt/sources.list.d/*.sources; do [ -f "$f" ] && deb822+=("$f"); done
  if [ ${#one_line[@]} -gt 0 ]; then
    awk -v s="$suite" '$1 == "deb" {
        i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
        if ($(i + 1) ~ "^" s "(-updates|-security)?$") print $i, $(i + 1) }' "${one_line[@]}"
  fi
  if [ ${#deb822[@]} -gt 0 ]; then
    awk -v s="$suite" 'BEGIN { RS = ""; FS = "\n" } {
        types = ""; uris = ""; suites = ""
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^Types:/) types = substr($i, 7)
          if ($i ~ /^URIs:/) uris = substr($i, 6)
          if ($i ~ /^Suites:/) suites = substr($i, 8)
        }
        if (types !~ /(^| )deb( |$)/) next
        split(uris, u, " "); n = split(suites, w, " ")
        for (j = 1; j <= n; j++) if (w[j] ~ "^" s "(-updates|-security)?$") print u[1], w[j] }' "${deb822[@]}"
  fi
}

make_base() {
  [ -f "$base/.lirenta-base" ] && return 0
  local sources mirror
  sources=$(debian_sources | sort -u)
  mirror=$(awk -v s="$suite" '$2 == s { print $1; exit }' <<<"$sources")
  [ -n "$mirror" ] || die "no Debian $suite source in this machine's apt sources"
  mkdir -p "$cache" "$logs"
  local log=$logs/base.log try
  for try in $(seq 1 $base_tries); do
    say "making the minimal Debian $suite root from $mirror (try $try of $base_tries)"
    rm -rf "$base.new"
    if debootstrap --variant=minbase --include=make,git "$suite" "$base.new" "$mirror" >"$log" 2>&1; then
      awk '{ print "deb " $1 " " $2 " main" }' <<<"$sources" >"$base.new/etc/apt/sources.list"
      rm -rf "$base.new/var/cache/apt/archives/"*.deb "$base.new/var/lib/apt/lists/"*
      touch "$base.new/.lirenta-base"
      rm -rf "$base"
      mv "$base.new" "$base"
      return 0
    fi
    tail -n 20 "$log" >&2
    [ "$try" -lt $base_tries ] && sleep $base_retry_pause
  done
  rm -rf "$base.new"
  die "cannot make the base root: the Debian mirror $mirror did not answer after $base_tries tries (log: $log)"
}

work=""
runner=""
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  if [ -n "$runner" ]; then kill -TERM -- "-$runner" 2>/dev/null || true; wait "$runner" 2>/dev/null || true; fi
  if [ -n "$work" ] && [ -d "$work" ]; then
    # Anything still running inside a copy (a server a step left behind) is stopped first.
    local p root
    for p in /proc/[0-9]*; do
      root=$(readlink "$p/root" 2>/dev/null) || continue
      case "$root" in "$work"/*) kill -KILL "${p#/proc/}" 2>/dev/null || true ;; esac
    done
    sleep 0.2
    # Mounts live only in the copies' own namespaces, so nothing of the host is below $work.
    if grep -q " $work/" /proc/self/mounts; then
      say "mounts are still present under $work; leaving it in place" >&2
    else
      rm -rf "$work"
    fi
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'say "interrupted"; exit 130' INT TERM

# new_root NAME: a fresh copy of the base root.
new_root() {
  local root=$work/$1
  cp -a "$base" "$root"
  mkdir -p "$root/var/cache/apt/archives"
  echo "$root"
}

# in_root ROOT STEP COMMAND: runs COMMAND with bash inside ROOT, in a private mount namespace
# with ROOT bound on itself, /proc, /sys, /dev, /dev/pts and a fresh /dev/shm, and a clean
# environment; its output goes to the step's log. Downloaded packages are kept across checks in
# $archives.
in_root() {
  local root=$1 step=$2 command=$3 log=$logs/$2.log
  local started=$SECONDS
  say "step '$step' ..."
  setsid unshare --mount --propagation private bash -c '
    set -e
    r=$1 archives=$2 command=$3
    # The root of the copy is a mount point, as / is on a machine: a program inside that makes
    # a mount namespace of its own (unshare --propagation private) needs / to be one.
    mount --bind "$r" "$r"
    mount -t proc proc "$r/proc"
    mount -t sysfs sysfs "$r/sys"
    mount --bind /dev "$r/dev"
    mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$r/dev/pts"
    [ -L "$r/dev/ptmx" ] || mount --bind "$r/dev/pts/ptmx" "$r/dev/ptmx"
    mount -t tmpfs -o mode=1777 shm "$r/dev/shm"
    mount --bind "$archives" "$r/var/cache/apt/archives"
    exec env -i HOME=/root TERM=dumb PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      chroot "$r" /bin/bash -c "$command"
  ' in_root "$root" "$archives" "$command" </dev/null >"$log" 2>&1 &
  runner=$!
  local status=0
  wait "$runner" || status=$?
  runner=""
  if [ "$status" -ne 0 ]; then
    say "step '$step' FAILED (status $status) after $((SECONDS - started)) s; the end of its log ($log):" >&2
    tail -n $tail_lines "$log" >&2
    exit 1
  fi
  say "step '$step' passed in $((SECONDS - started)) s"
}

checked=$SECONDS
make_base
mkdir -p "$archives" "$logs"
work=$(mktemp -d /var/tmp/lirenta-fresh.XXXXXX)
say "checking $(git -C "$top" log -1 --format='%h %s') in $work"

# The README's two commands on a fresh machine, then the package. The clone lies in the home of
# the ordinary user who runs the demo: root's own home is closed to other users.
user=lirenta-user
tree=/home/$user/lirenta
build_root=$(new_root build)
chroot "$build_root" useradd --create-home --shell /bin/bash "$user"
git clone -q "$top" "$build_root$tree"
in_root "$build_root" make-test "cd $tree && make test"
grep -E '^[0-9]+% tests passed|tests failed out of' "$logs/make-test.log" | sed 's/^/  /'
# Root uses the engine first, as on a machine where anyone ran isql-fb: /tmp/firebird is then
# root's, mode 0770. The user's make deps finds everything installed and installs nothing.
in_root "$build_root" make-demo "
set -euo pipefail
cd $tree
make deps
printf \"CREATE DATABASE '/tmp/root-used-the-engine.fdb' USER 'SYSDBA' PASSWORD 'velkadrum';\\n\" |
  isql-fb -q
ls -ld /tmp/firebird
chown -R $user: $tree
runuser -u $user -- make deps
runuser -u $user -- make demo
"
line=$(grep -E '^Composers written' "$logs/make-demo.log" || true)
echo "  $line"
read -r after before < <(sed -E 's/^Composers written: ([0-9]+) of [0-9]+ .*\(([0-9]+) before.*/\1 \2/' <<<"$line")
[ -n "$after" ] && [ "$after" -gt "${before:-0}" ] 2>/dev/null || die "make demo wrote no composer"
in_root "$build_root" make-package "cd $tree && make package && ls build/lirenta_*_amd64.deb"

# The package on a second fresh machine, as a user meets it (scripts/package-check.sh): the
# install, with the installed console program run by an ordinary user on an embedded database
# that root made (so root used the engine first), through the settings file in /etc/lirenta;
# lintian, the version and the manual pages; an upgrade that keeps the edited settings file;
# remove; purge.
package_root=$(new_root package)
deb=$(cd "$build_root$tree/build" && ls lirenta_*_amd64.deb)
cp "$build_root$tree/build/$deb" "$package_root/tmp/"
cp "$build_root$tree/scripts/package-check.sh" "$package_root/root/"
chroot "$package_root" useradd --create-home --shell /bin/bash "$user"
check=/home/$user/check
mkdir -p "$package_root$check"
cp "$build_root$tree/build/bin/lirenta-fixture-site" "$package_root$check/"
cp -r "$build_root$tree/demo/." "$package_root$check/"
rm -rf "$build_root"
for step in install lint upgrade remove purge; do
  in_root "$package_root" "package-$step" "bash /root/package-check.sh $step /tmp/$deb $user $check"
  sed -n 's/^package-check: /  /p' "$logs/package-$step.log"
done
say "passed in $((SECONDS - checked)) s"
