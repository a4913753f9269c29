#!/usr/bin/env bash
# Photographs Brackmoor's window over a running sample server: scripts/serve.sh lays out a
# temporary installation and runs Tallgrove there, the console starts under Xvfb, and the
# screen becomes a PNG.
#
#   scripts/screenshot-console.sh [--out FILE]     default docs/brackmoor-console.png
set -euo pipefail
cd "$(dirname "$0")/.."

out=docs/brackmoor-console.png
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out="$2"; shift 2 ;;
    -h|--help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "screenshot-console.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

width=780
height=300
work=$(mktemp -d)
root=$work/root
serve_pid=""
cleanup() {
  if [ -n "$serve_pid" ]; then
    scripts/serve.sh --root "$root" --stop >/dev/null 2>&1 || true
    wait "$serve_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
scripts/serve.sh --root "$root" --port "$port" >"$work/serve.log" 2>&1 &
serve_pid=$!
# serve.sh may build first; the server is up once it answers.
for _ in $(seq 1200); do
  if curl -s -o /dev/null "http://127.0.0.1:$port/"; then break; fi
  if ! kill -0 "$serve_pid" 2>/dev/null; then
    cat "$work/serve.log" >&2
    exit 1
  fi
  sleep 0.5
done
curl -s -o /dev/null "http://127.0.0.1:$port/" || { cat "$work/serve.log" >&2; exit 1; }

# A named organisation, so the console opens no Settings sheet as on a first start.
conf="$root/etc/velmorin.conf"
grep -q '^GeneralOrganizationName=' "$conf" ||
  echo 'GeneralOrganizationName=Sample Organization' >>"$conf"

# The window fills the virtual screen: its place comes from the console's profile.
mkdir -p "$work/config/Tormalek" "$work/runtime"
chmod 700 "$work/runtime"
printf '[Main%%20Window%%20Position]\nX=0\nY=0\nW=%s\nH=%s\n' "$width" "$height" \
  >"$work/config/Tormalek/Brackmoor.conf"

# Xvfb keeps its screen in an XWD file under -fbdir; it is copied once the window is drawn.
XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 ${width}x${height}x24 -fbdir $work" \
  bash -c '"$1/bin/Brackmoor" & pid=$!
           sleep 6
           cp "$2/Xvfb_screen0" "$2/screen.xwd"
           kill "$pid"; wait "$pid" 2>/dev/null || true' _ "$root" "$work"

mkdir -p "$(dirname "$out")"
xwdtopnm "$work/screen.xwd" 2>/dev/null | pnmtopng >"$out"
echo "Wrote $out"
