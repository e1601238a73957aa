#!/usr/bin/env bash
# The demo: a fresh database of ~40 songs, their pages on the local fixture lyrics site, and one
# update run of the console program (or of the window program with "gui"), with the songs shown
# before and after.
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

db="$demo/kavro.fdb"
{
  echo "SET SQL DIALECT 1;"
  echo "CREATE DATABASE '$db' USER 'SYSDBA' PASSWORD 'velkadrum' DEFAULT CHARACTER SET NONE;"
  cat "$top/demo/songs.sql"
} > "$demo/create.sql"
isql-fb -q -i "$demo/create.sql" >/dev/null
printf '[BANCO]\r\nCAMINHO=%s\r\n' "$db" > "$demo/BaseKavro.ini"

show_songs() {
  # Columns are cut and padded on the Windows-1252 bytes (one byte a character), then converted.
  printf 'SET HEADING OFF;\nSELECT Mus_Codigo, Mus_Interprete, Mus_Nome, Mus_Compositor FROM Tb_Musicas ORDER BY Mus_Codigo;\n' |
    isql-fb -q -user SYSDBA -password velkadrum "$db" |
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
    isql-fb -q -user SYSDBA -password velkadrum "$db" | tr -dc '0-9'
}

echo "== Songs before the run"
show_songs
before=$(composers)

"$build/bin/lirenta-fixture-site" --root "$demo/site" --port 0 --idle-seconds 600 > "$demo/site.log" 2>&1 &
site=$!
trap 'kill $site 2>/dev/null || true' EXIT
port=""
for _ in $(seq 1 100); do
  port=$(head -n 1 "$demo/site.log" 2>/dev/null | tr -dc '0-9')
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || { echo "the fixture site did not start"; cat "$demo/site.log"; exit 1; }
export LIRENTA_LYRICS_URL="http://127.0.0.1:$port/"
echo
echo "== Update run against $LIRENTA_LYRICS_URL"
status=0
if [ "$mode" = gui ]; then
  "$demo/lirenta" || status=$?
else
  "$demo/lirenta-console" || status=$?
fi
kill $site 2>/dev/null || true
wait $site 2>/dev/null || true
trap - EXIT

echo
echo "== Songs after the run"
show_songs
echo
after=$(composers)
total=$(printf 'SELECT COUNT(*) FROM Tb_Musicas;\n' | isql-fb -q -user SYSDBA -password velkadrum "$db" | tr -dc '0-9')
echo "Composers written: $after of $total songs have a composer ($before before the run)"
exit $status
