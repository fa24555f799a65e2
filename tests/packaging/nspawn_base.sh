#!/bin/bash
# Prints the path of a cached Debian 12 root that can boot under
# systemd-nspawn and has the package's run-time dependencies, making it first
# when missing or made by another recipe. The root is only ever copied, never
# booted itself.
# usage: nspawn_base.sh [CACHE_DIR]
set -euo pipefail
cache=${1:-${XDG_CACHE_HOME:-$HOME/.cache}/pqw-nspawn}
# Everything the package needs at run time, so that installing it needs no
# network; systemd-sysv gives /sbin/init for booting.
packages="systemd systemd-sysv dbus libcjson1 libinih1 libcurl4 libgpiod2 libpcap0.8 libsystemd0 iproute2 psmisc net-tools wireless-tools"
recipe="bookworm minbase; $packages"
base=$cache/bookworm-base
stamp=$base/.pqw-recipe
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$recipe" ]; then
  echo "$base"
  exit 0
fi
mirror=$(sed -n 's/^URIs: *//p; s/^deb \(\[[^]]*\] \)\?\([^ ]*\) bookworm .*/\2/p' \
  /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list \
  2>/dev/null | head -1 || true)
mirror=${mirror:-http://deb.debian.org/debian}
mkdir -p "$cache"
# A half-made root is reused when debootstrap itself had finished.
if [ ! -f "$base.new/.pqw-debootstrapped" ]; then
  rm -rf "$base.new"
  debootstrap --variant=minbase bookworm "$base.new" "$mirror" >"$cache/debootstrap.log" 2>&1 || {
    tail -20 "$cache/debootstrap.log" >&2
    exit 1
  }
  touch "$base.new/.pqw-debootstrapped"
fi
# apt inside the root shares the host's network (no --private-network here).
systemd-nspawn -q --register=no --keep-unit -D "$base.new" bash -c \
  "apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $packages && apt-get clean" \
  >>"$cache/debootstrap.log" 2>&1 || {
  tail -20 "$cache/debootstrap.log" >&2
  exit 1
}
echo pqw-test >"$base.new/etc/hostname"
echo "$recipe" >"$base.new/.pqw-recipe"
rm -rf "$base"
mv "$base.new" "$base"
echo "$base"
