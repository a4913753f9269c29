#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and runs Tallgrove in the foreground on the sample
# application with the embedded default data source.
#
#   scripts/serve.sh [--root DIR] [--port N] [--address A]   install, build, lay out, run
#   scripts/serve.sh [--root DIR] --stop                     stop the server of that root
#
# The installation root is ./install under the clone unless --root names another folder.
# The port is 80 when it can be bound, else the first free one of 8080..8083. The server
# listens on 127.0.0.1 unless --address says otherwise. Ctrl-C stops it cleanly as well.
set -euo pipefail
cd "$(dirname "$0")/.."
clone=$PWD

root="$clone/install"
port=""
address="127.0.0.1"
stop=0
while [ $# -gt 0 ]; do
  case "$1" in
    --root) root="$2"; shift 2 ;;
    --port) port="$2"; shift 2 ;;
    --address) address="$2"; shift 2 ;;
    --stop) stop=1; shift ;;
    -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "serve.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
mkdir -p "$root"
root=$(realpath "$root")

# The stop event of a root: an abstract unix socket named as engine/foundation/NamedObject.cpp
# names it. "exists" connects; "signal" sends the one byte that sets it.
stop_event() {
  python3 - "$1" "$root" <<'EOF'
import socket, sys
action, root = sys.argv[1], sys.argv[2]
name = "velmorin:Tallgrove2stopEvent:" + root
if len(name.encode()) > 107:
    h = 1469598103934665603
    for b in root.encode():
        h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    name = ("velmorin:Tallgrove2stopEvent#%016x" % h)[:107]
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
try:
    s.connect(b"\0" + name.encode())
except OSError:
    sys.exit(1)
if action == "signal":
    s.send(b"\1")
s.close()
EOF
}

if [ "$stop" -eq 1 ]; then
  if ! stop_event exists; then
    echo "No Tallgrove runs from $root." >&2
    exit 1
  fi
  stop_event signal
  for _ in $(seq 600); do
    stop_event exists || { echo "Tallgrove of $root stopped."; exit 0; }
    sleep 0.1
  done
  echo "Tallgrove of $root did not stop within 60 seconds." >&2
  exit 1
fi

if stop_event exists; then
  echo "Tallgrove already runs from $root; stop it with: scripts/serve.sh --root $root --stop" >&2
  exit 1
fi

bash scripts/install-deps.sh

cmake -S . -B build -G Ninja -DVELMORIN_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target Tallgrove

# The installation root.
for folder in bin etc data tmp mail certs webroot webroot/log webroot/script; do
  mkdir -p "$root/$folder"
done
chmod 700 "$root/certs"
install -m 755 build/bin/Tallgrove "$root/bin/Tallgrove"
cp -R sample/webroot/. "$root/webroot/"

# The embedded default data source: SQLite through its ODBC driver, configured inside the
# root so that nothing outside it changes.
driver=$(dpkg -L libsqliteodbc | grep '/libsqlite3odbc\.so$' | head -n 1)
cat >"$root/etc/odbcinst.ini" <<EOF
[SQLite3]
Description=SQLite3 ODBC driver
Driver=$driver
EOF
cat >"$root/etc/odbc.ini" <<EOF
[zr2]
Driver=SQLite3
Database=$root/data/zr2.db
Timeout=10000
EOF
export ODBCSYSINI="$root/etc"
export ODBCINI="$root/etc/odbc.ini"
sqlite3 "$root/data/zr2.db" <data/zr2sqlite.sql

# A port this user can bind.
can_bind() {
  python3 - "$address" "$1" <<'EOF'
import socket, sys
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
try:
    s.bind((sys.argv[1], int(sys.argv[2])))
except OSError:
    sys.exit(1)
EOF
}
if [ -z "$port" ]; then
  for candidate in 80 8080 8081 8082 8083; do
    if can_bind "$candidate"; then port=$candidate; break; fi
  done
  if [ -z "$port" ]; then
    echo "No free port among 80 and 8080..8083 on $address; name one with --port." >&2
    exit 1
  fi
fi

# Settings: only the values this script decides; everything else stays as the store has it.
conf="$root/etc/velmorin.conf"
touch "$conf"
python3 - "$conf" "GeneralTcpipAddress=$address" "GeneralTcpipPort=$port" "FQDN=$address" \
  "DbOdbcConnectString=ODBC;DSN=zr2" <<'EOF'
import os, sys
path, pairs = sys.argv[1], [a.split("=", 1) for a in sys.argv[2:]]
wanted = {name.lower(): (name, value) for name, value in pairs}
out, done = [], set()
for line in open(path, encoding="latin-1").read().splitlines():
    key = line.split("=", 1)[0].strip().lower()
    if "=" in line and not line.lstrip().startswith("#") and key in wanted:
        if key not in done:
            out.append("=".join(wanted[key]))
            done.add(key)
        continue
    out.append(line)
out += ["=".join(v) for k, v in wanted.items() if k not in done]
tmp = path + ".tmp"
with open(tmp, "w", encoding="latin-1") as f:
    f.write("\n".join(out) + "\n")
os.replace(tmp, path)
EOF

url="http://$address"
[ "$port" = "80" ] || url="$url:$port"
echo "Tallgrove serves $root on $url/ (log: $root/webroot/log/); Ctrl-C or scripts/serve.sh --stop ends it."
exec "$root/bin/Tallgrove" -NormalApp
