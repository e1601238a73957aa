#!/usr/bin/env bash
# The demo: a fresh database of ~40 songs, their pages on the local fixture lyrics site, and one
# update run of the console program (or of the window program with "gui"), with the songs shown
# before and after. The console demo then runs the same songs again from a fresh database over
# https, the site's certificate signed by a CA made for the demo and trusted through
# SSL_CERT_FILE, with a lookup report, and checks that both runs stored the same composers.
set -euo pipefail
build=${1:-build}
mode=${2:-console}
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$build" && pwd)
demo="$build/demo"

rm -rf "$demo"
mkdir -p "$demo"
cp -r "$top/demo/site" "$demo/site"
cp "$build/bin/lirenta" "$build/bin/lirenta-console" "$demo/"

# isql-fb gets a lock folder of the demo's own: the engine's default, /tmp/firebird, belongs to
# whoever used the engine first on this machine and refuses everyone else. The programs make
# one of the user's own by themselves.
isql_lock=${FIREBIRD_LOCK:-$demo/firebird-lock}
mkdir -p -m 0700 "$isql_lock"
isql() { FIREBIRD_LOCK=$isql_lock isql-fb "$@"; }

db="$demo/kavro.fdb"
create_database() {
  rm -f "$db"
  {
    echo "SET SQL DIALECT 1;"
    echo "CREATE DATABASE '$db' USER 'SYSDBA' PASSWORD 'velkadrum' DEFAULT CHARACTER SET NONE;"
    cat "$top/demo/songs.sql"
  } > "$demo/create.sql"
  isql -q -i "$demo/create.sql" >/dev/null
}
create_database
printf '[BANCO]\r\nCAMINHO=%s\r\n' "$db" > "$demo/BaseKavro.ini"

show_songs() {
  # Columns are cut and padded on the Windows-1252 bytes (one byte a character), then converted.
  printf 'SET HEADING OFF;\nSELECT Mus_Codigo, Mus_Interprete, Mus_Nome, Mus_Compositor FROM Tb_Musicas ORDER BY Mus_Codigo;\n' |
    isql -q -user SYSDBA -password velkadrum "$db" |
    LC_ALL=C awk 'BEGIN { printf "%6s  %-28s  %-28s  %s\n", "Codigo", "Interprete", "Nome", "Compositor" }
      /^ *[0-9]+ / {
        code = $1; rest = substr($0, index($0, code) + length(code) + 1)
        performer = substr(rest, 1, 45); title = substr(rest, 47, 45); composer = substr(rest, 93)
        sub(/ +$/, "", performer); sub(/ +$/, "", title); sub(/ +$/, "", composer)
        printf "%6s  %-28.28s  %-28.28s  %s\n", code, performer, title, composer
      }' | iconv -f WINDOWS-1252 -t UTF-8
}

composers() {
  printf 'SELECT COUNT(*) FROM Tb_Musicas WHERE Mus_Compositor IS NOT NULL;\n' |
    isql -q -user SYSDBA -password velkadrum "$db" | tr -dc '0-9'
}

echo "== Songs before the run"
show_songs
before=$(composers)

site=""
# Starts the site with the given extra arguments; sets $port.
start_site() {
  "$build/bin/lirenta-fixture-site" --root "$demo/site" --port 0 --idle-seconds 600 "$@" > "$demo/site.log" 2>&1 &
  site=$!
  trap 'kill $site 2>/dev/null || true' EXIT
  port=""
  for _ in $(seq 1 100); do
    port=$(head -n 1 "$demo/site.log" 2>/dev/null | tr -dc '0-9')
    [ -n "$port" ] && break
    sleep 0.05
  done
  [ -n "$port" ] || { echo "the fixture site did not start"; cat "$demo/site.log"; exit 1; }
}
stop_site() {
  kill $site 2>/dev/null || true
  wait $site 2>/dev/null || true
  trap - EXIT
}

start_site
export LIRENTA_LYRICS_URL="http://127.0.0.1:$port/"
echo
echo "== Update run against $LIRENTA_LYRICS_URL"
status=0
if [ "$mode" = gui ]; then
  "$demo/lirenta" || status=$?
else
  "$demo/lirenta-console" || status=$?
fi
stop_site

echo
echo "== Songs after the run"
show_songs | tee "$demo/after-http.txt"
echo
after=$(composers)
total=$(printf 'SELECT COUNT(*) FROM Tb_Musicas;\n' | isql -q -user SYSDBA -password velkadrum "$db" | tr -dc '0-9')
echo "Composers written: $after of $total songs have a composer ($before before the run)"
[ "$status" = 0 ] || exit $status
[ "$mode" = gui ] && exit 0

# The https run: a CA and a certificate for 127.0.0.1 made for the demo.
tls="$demo/tls"
mkdir -p "$tls"
(
  cd "$tls"
  key="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
  openssl req -x509 $key -keyout ca.key -out ca.crt -days 2 -subj "/CN=Lirenta Demo CA" 2>/dev/null
  openssl req $key -keyout site.key -out site.csr -subj "/CN=127.0.0.1" 2>/dev/null
  printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' > site.ext
  openssl x509 -req -in site.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out site.crt -days 2 \
    -extfile site.ext 2>/dev/null
)
create_database
start_site --cert "$tls/site.crt" --key "$tls/site.key"
export LIRENTA_LYRICS_URL="https://127.0.0.1:$port/"
report="$demo/report.tsv"
rm -f "$report"
echo
echo "== The same songs from a fresh database against $LIRENTA_LYRICS_URL (report: $report)"
SSL_CERT_FILE="$tls/ca.crt" "$demo/lirenta-console" --report "$report" || status=$?
stop_site
show_songs > "$demo/after-https.txt"
echo
echo "== The report's first lines"
head -n 6 "$report"
echo
if cmp -s "$demo/after-http.txt" "$demo/after-https.txt"; then
  echo "== https stored the same composers as http"
else
  echo "== https stored other composers than http:"
  diff "$demo/after-http.txt" "$demo/after-https.txt" || true
  status=1
fi
exit $status
