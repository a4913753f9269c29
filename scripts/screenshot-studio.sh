#!/usr/bin/env bash
# Takes docs/wrenfold.png: Wrenfold's real window under Xvfb, paused at a breakpoint of the
# sample application's front page, over a fresh installation root with the sample database.
#   scripts/screenshot-studio.sh [output.png]
set -euo pipefail
cd "$(dirname "$0")/.."
output=$(realpath -m "${1:-docs/wrenfold.png}")

cmake -S . -B build -G Ninja -DVELMORIN_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target WrenfoldScreenshot

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/root"
for folder in bin etc data tmp webroot/log; do
  mkdir -p "$root/$folder"
done
# Copied, not linked: the program's root is the parent of its own folder.
install -m 755 build/bin/WrenfoldScreenshot "$root/bin/WrenfoldScreenshot"
cp -R sample/webroot/. "$root/webroot/"
cat >"$root/etc/odbc.ini" <<INI
[zr2]
Driver=SQLite3
Database=$root/data/zr2.db
INI
sqlite3 "$root/data/zr2.db" <data/zr2sqlite.sql
# A fresh store: the sample's data source, the debugging web server on 127.0.0.1 only.
printf '%s\n' "GeneralTcpipAddress=127.0.0.1" "FQDN=127.0.0.1" "DbOdbcConnectString=ODBC;DSN=zr2" \
  >"$root/etc/velmorin.conf"
chmod 640 "$root/etc/velmorin.conf"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/config" "$work/runtime" "$(dirname "$output")"
chmod 700 "$work/runtime"
XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x800x24" \
  "$root/bin/WrenfoldScreenshot" "$root" "$port" "$output"
echo "Saved $output"
