#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and starts the server on the embedded default.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "The server program is not built yet: only the engine libraries and their tests exist." >&2
exit 1
