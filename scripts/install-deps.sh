#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the sample server need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libssl-dev openssl
  unixodbc unixodbc-dev libsqliteodbc sqlite3 libsqlite3-dev odbc-postgresql
  postgresql postgresql-client
  libldap-dev slapd ldap-utils
  libsystemd-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev xvfb xauth xdg-utils netpbm
  python3 python3-aiosmtpd dovecot-pop3d
  curl wrk procps iproute2
  locales
  nginx php-fpm php-cli php-sqlite3 lua5.4
)
# Locales whose date and time formats the tests read.
locales=(en_US de_DE en_GB)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

generate_locales() {
  local have
  have=$(locale -a 2>/dev/null)
  for l in "${locales[@]}"; do
    grep -qx "$l.utf8" <<<"$have" || $SUDO localedef -i "$l" -c -f UTF-8 "$l.UTF-8"
  done
}
if [ ${#missing[@]} -eq 0 ]; then
  generate_locales
  exit 0
fi
export DEBIAN_FRONTEND=noninteractive
# slapd and dovecot must not start system-wide daemons on install: the tests start their own.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
  $SUDO chmod +x /usr/sbin/policy-rc.d
  trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
generate_locales
