#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and runs Tallgrove in the foreground on the sample
# application with the embedded default data source.
#
#   scripts/serve.sh [--root DIR] [--port N] [--address A]   install, build, lay out, run
#   scripts/serve.sh [--root DIR] --stop                     stop the server of that root
#
# --binary FILE runs that Tallgrove instead of building build/ (the benchmarks run a Release
# build).
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
binary=""
while [ $# -gt 0 ]; do
  case "$1" in
    --root) root="$2"; shift 2 ;;
    --port) port="$2"; shift 2 ;;
    --address) address="$2"; shift 2 ;;
    --stop) stop=1; shift ;;
    --binary) binary=$(realpath "$2"); shift 2 ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "serve.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
mkdir -p "$root"
root=$(realpath "$root")

# The named objects of a root live in its tmp/, as engine/foundation/NamedObject.cpp makes
# them. The stop event is the unix socket tmp/<name>: "exists" connects, "signal" sends the one
# byte that sets it; it is reached through /proc/self/fd, as the programs reach it, so a long
# root does not overflow the socket's address. The single-instance object: "held" is true while
# a server holds the flock of tmp/<name>.lock.
named_object() {
  python3 - "$1" "$2" "$root" <<'EOF'
import fcntl, os, socket, sys
object_name, action, root = sys.argv[1], sys.argv[2], sys.argv[3]
try:
    folder = os.open(os.path.join(root, "tmp"), os.O_RDONLY | os.O_DIRECTORY)
except OSError:
    sys.exit(1)
if action == "held":
    try:
        lock = os.open(object_name + ".lock", os.O_RDONLY, dir_fd=folder)
    except OSError:
        sys.exit(1)
    try:
        fcntl.flock(lock, fcntl.LOCK_SH | fcntl.LOCK_NB)
    except BlockingIOError:
        sys.exit(0)
    sys.exit(1)
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
try:
    s.connect("/proc/self/fd/%d/%s" % (folder, object_name))
except OSError:
    sys.exit(1)
if action == "signal":
    s.send(b"\1")
s.close()
EOF
}
stop_event() { named_object Tallgrove2stopEvent "$1"; }
server_held() { named_object Tallgrove2EnsureSingle held; }

if [ "$stop" -eq 1 ]; then
  if ! stop_event exists; then
    echo "No Tallgrove runs from $root." >&2
    exit 1
  fi
  stop_event signal
  # The event goes once every thread has ended; the program is gone when it lets go of its
  # single-instance object, and only then can the next one start.
  for _ in $(seq 600); do
    if ! stop_event exists && ! server_held; then
      echo "Tallgrove of $root stopped."
      exit 0
    fi
    sleep 0.1
  done
  echo "Tallgrove of $root did not stop within 60 seconds." >&2
  exit 1
fi

if stop_event exists || server_held; then
  echo "Tallgrove already runs from $root; stop it with: scripts/serve.sh --root $root --stop" >&2
  exit 1
fi

bash scripts/install-deps.sh

if [ -z "$binary" ]; then
  cmake -S . -B build -G Ninja -DVELMORIN_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build --target Tallgrove Brackmoor
  binary=build/bin/Tallgrove
fi

# The installation root. What can hold a password, data or request lines is for the owner and
# the root's group only: files at most 0640, folders 0750 with the setgid bit, so that what the
# programs make in them takes the root's group; tmp/ 0770 (the group's members write there
# too), certs/ 0700 (with the setgid bit as well). An installation laid out before is narrowed to that, and told.
umask 027
group=$(stat -c %g "$root")
chmod g+s "$root"
for made in bin:755 etc:2750 data:2750 tmp:2770 mail:2750 certs:2700 webroot:2750 \
  webroot/log:2750 webroot/script:2750; do
  if [ ! -d "$root/${made%%:*}" ]; then
    mkdir -p "$root/${made%%:*}"
    chmod "${made#*:}" "$root/${made%%:*}"
  fi
done
# A folder: exactly this mode, and the root's group.
lay_folder() {
  local have
  have=$(stat -c %a "$1")
  if [ "$have" != "$2" ]; then
    chmod "$2" "$1"
    echo "serve.sh: $1: mode $have -> $2"
  fi
  lay_group "$1"
}
# A file: no more than this mode, and the root's group.
lay_file() {
  local have want
  have=$(stat -c %a "$1")
  want=$(printf '%o' $((8#$have & 8#$2)))
  if [ "$have" != "$want" ]; then
    chmod "$want" "$1"
    echo "serve.sh: $1: mode $have -> $want"
  fi
  lay_group "$1"
}
lay_group() {
  if [ "$(stat -c %g "$1")" != "$group" ]; then
    echo "serve.sh: $1: group $(stat -c %G "$1") -> $(getent group "$group" | cut -d: -f1 || echo "$group")"
    chgrp "$group" "$1"
  fi
}
lay_installation() {
  local path
  for folder in etc data mail webroot webroot/log; do
    lay_folder "$root/$folder" 2750
  done
  lay_folder "$root/tmp" 2770
  lay_folder "$root/certs" 2700
  while IFS= read -r -d '' path; do
    lay_folder "$path" 2750
  done < <(find "$root/mail" -mindepth 1 -type d -print0)
  while IFS= read -r -d '' path; do
    lay_file "$path" 640
  done < <(find "$root/etc" "$root/data" "$root/mail" "$root/webroot/log" "$root/tmp" "$root/certs" \
             -type f -print0)
}
lay_installation
install -m 755 "$binary" "$root/bin/Tallgrove"
# The console's command line (-start, -stop, -compact) serves this root as well.
if [ -x build/bin/Brackmoor ]; then
  install -m 755 build/bin/Brackmoor "$root/bin/Brackmoor"
fi
cp -R sample/webroot/. "$root/webroot/"

# The embedded default data source: SQLite through the ODBC driver the system lists as
# "SQLite3" (libsqliteodbc registers it). Only the data source lives in the root: every program
# of the installation reads <root>/etc/odbc.ini unless ODBCINI names another file, and finds the
# drivers where the system keeps them. Pages run side by side (DbAccessSerialize=no below), so
# the database runs in WAL mode, where readers never wait for a writer, and a connection waits
# up to 10 s for another's write instead of failing at once.
if ! odbcinst -q -d -n SQLite3 >/dev/null 2>&1; then
  echo "The system's ODBC driver list (odbcinst -q -d) has no SQLite3 driver; reinstall libsqliteodbc." >&2
  exit 1
fi
rm -f "$root/etc/odbcinst.ini"
cat >"$root/etc/odbc.ini" <<EOF
[zr2]
Driver=SQLite3
Database=$root/data/zr2.db
Timeout=10000
JournalMode=WAL
EOF
sqlite3 "$root/data/zr2.db" <data/zr2sqlite.sql
sqlite3 "$root/data/zr2.db" "PRAGMA journal_mode=WAL;" >/dev/null
# The new files took the folders' group and the umask's modes; a rewritten odbc.ini kept its own.
lay_installation

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
# Written as the engine writes the store: under its lock, through a temporary file with the
# mode, owner and group of the file it replaces; a new file is 0640 with the root's group.
conf="$root/etc/velmorin.conf"
python3 - "$conf" "$root" "GeneralTcpipAddress=$address" "GeneralTcpipPort=$port" \
  "FQDN=$address" "DbOdbcConnectString=ODBC;DSN=zr2" "DbAccessSerialize=no" <<'EOF'
import fcntl, os, sys, tempfile
path, root, pairs = sys.argv[1], sys.argv[2], [a.split("=", 1) for a in sys.argv[3:]]
wanted = {name.lower(): (name, value) for name, value in pairs}
lock = os.open(path + ".lock", os.O_RDWR | os.O_CREAT, 0o644)
fcntl.flock(lock, fcntl.LOCK_EX)
try:
    st = os.stat(path)
    mode, uid, gid = st.st_mode & 0o7777, st.st_uid, st.st_gid
    lines = open(path, encoding="latin-1").read().splitlines()
except FileNotFoundError:
    mode, uid, gid = 0o640, os.geteuid(), os.stat(root).st_gid
    lines = []
out, done = [], set()
for line in lines:
    key = line.split("=", 1)[0].strip().lower()
    if "=" in line and not line.lstrip().startswith("#") and key in wanted:
        if key not in done:
            out.append("=".join(wanted[key]))
            done.add(key)
        continue
    out.append(line)
out += ["=".join(v) for k, v in wanted.items() if k not in done]
fd, tmp = tempfile.mkstemp(prefix=".new-velmorin.conf-", dir=os.path.dirname(path))
try:
    with os.fdopen(fd, "wb") as f:
        os.fchown(f.fileno(), uid, gid)
        os.fchmod(f.fileno(), mode)
        f.write(("\n".join(out) + "\n").encode("latin-1"))
        f.flush()
        os.fsync(f.fileno())
    os.replace(tmp, path)
except BaseException:
    os.unlink(tmp)
    raise
EOF

url="http://$address"
[ "$port" = "80" ] || url="$url:$port"
echo "Tallgrove serves $root on $url/ (log: $root/webroot/log/); Ctrl-C or scripts/serve.sh --stop ends it."
exec "$root/bin/Tallgrove" -NormalApp
