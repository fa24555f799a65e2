#!/bin/bash
# The amd64 package in a fresh Debian 12 booted with systemd-nspawn: the
# service becomes active and ready, a viewer's restart brings it back within
# a second, without can0 it restarts slowly and says why, the journal has the
# priorities, purge leaves nothing behind and /boot's settings alone.
# The container has loopback only; the root is a copy of a cached base.
# usage: nspawn_test.sh BUILD_DIR     (exit 77: cannot run here)
set -u
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
for tool in systemd-nspawn debootstrap nsenter cpack; do
  command -v $tool >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done
[ "$(id -u)" = 0 ] || { echo "SKIP: needs root"; exit 77; }
# Inside a container or chroot that mounts /sys read-only, nspawn cannot
# give the booted system its own control groups.
[ -w /sys/fs/cgroup ] || { echo "SKIP: /sys/fs/cgroup is not writable here"; exit 77; }
[ "$(dpkg --print-architecture)" = amd64 ] || { echo "SKIP: not amd64"; exit 77; }
. "$here/check_lib.sh" nspawn
started=$(date +%s)
nspawn_pid=
cleanup() {
  if [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
    kill "$nspawn_pid"  # a booted container powers off on SIGTERM
    for _ in $(seq 100); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$nspawn_pid" 2>/dev/null
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
ms() { echo $(($(date +%s%N) / 1000000)); }

base=$("$here/nspawn_base.sh") || { echo "FAIL: no base root" >&2; exit 1; }
(cd "$tmp" && cpack -G DEB -B "$tmp/out" --config "$build/CPackConfig.cmake") >"$tmp/cpack.log" 2>&1
deb=$(ls "$tmp"/out/pelquarinthos-wired_*_amd64.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { cat "$tmp/cpack.log" >&2; echo "FAIL: no package" >&2; exit 1; }

root=$tmp/root
cp -a "$base" "$root"
# The user's settings, control on; it must come out of everything unchanged.
mkdir -p "$root/boot"
{ cat "$here/../../packaging/pelquarinthos-wired.conf"; printf 'control_enabled=1\r\n'; } \
  >"$root/boot/pelquarinthos-wired.conf"
conf_sum=$(md5sum <"$root/boot/pelquarinthos-wired.conf")
# nspawn gives the container its own /tmp.
cp "$deb" "$root/var/tmp/pkg.deb"
# Dependencies the cached root lacks come from the archive (the host's network,
# before the container is booted with loopback only).
systemd-nspawn -q --register=no --keep-unit -D "$root" bash -c \
  'dpkg -i /var/tmp/pkg.deb || { apt-get update && apt-get install -f -y --no-install-recommends; }' \
  >"$tmp/dpkg.log" 2>&1
rc=$?
check "dpkg -i in the root" [ $rc -eq 0 ]
[ $rc -eq 0 ] || cat "$tmp/dpkg.log" >&2
cp "$root/usr/share/doc/pelquarinthos-wired/examples/pelquarinthos-wired-sim.service" \
  "$root/etc/systemd/system/"

systemd-nspawn -q -b --private-network --register=no --keep-unit -D "$root" >"$tmp/boot.log" 2>&1 &
nspawn_pid=$!
leader=
for _ in $(seq 200); do
  # nspawn's own helper children come and go; the container's init stays.
  for c in $(pgrep -P "$nspawn_pid"); do
    [ "$(cat "/proc/$c/comm" 2>/dev/null)" = systemd ] && leader=$c
  done
  [ -n "$leader" ] && break
  sleep 0.05
done
run() { nsenter -t "$leader" -a -- "$@"; }
prop() { run systemctl show -P "$2" "$1"; }
state=
for _ in $(seq 600); do
  state=$(run systemctl is-system-running 2>/dev/null)
  case $state in running | degraded) break ;; esac
  sleep 0.1
done
check "container booted ($state)" grep -qE '^(running|degraded)$' <<<"$state"
run deb-systemd-helper enable pelquarinthos-wired.service >/dev/null 2>&1

# -- ready: Type=notify, so start returns once READY=1 came.
sim=pelquarinthos-wired-sim.service
run timeout 30 systemctl start $sim
check "sim service starts" [ $? -eq 0 ]
check "sim service active" [ "$(prop $sim ActiveState)/$(prop $sim SubState)" = active/running ]
for _ in $(seq 100); do
  grep -q 'camera link connected' <<<"$(prop $sim StatusText)" && break
  sleep 0.1
done
check "status line: $(prop $sim StatusText)" grep -q 'camera link connected' <<<"$(prop $sim StatusText)"
check "watchdog armed" [ "$(prop $sim WatchdogUSec)" = 10s ]

# -- a viewer's restart, over loopback inside the container.
pid0=$(prop $sim MainPID)
t0=$(ms)
run bash -c $'printf \'B\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0{"cmd":"restart"}\' >/dev/udp/127.0.0.1/4242'
back=
for _ in $(seq 300); do
  pid=$(prop $sim MainPID)
  if [ "$pid" != 0 ] && [ "$pid" != "$pid0" ] && [ "$(prop $sim ActiveState)" = active ]; then
    back=$(($(ms) - t0))
    break
  fi
  sleep 0.02
done
echo "restart by a viewer: back and ready after ${back:-never} ms"
check "back within a second (${back:-never} ms)" [ -n "$back" ] && [ "$back" -lt 1000 ]

export_log=$(run journalctl -u $sim -o export --no-pager)
entry() {  # entry TEXT: the PRIORITY of the first journal entry whose message has TEXT
  awk -v t="$1" 'BEGIN{RS=""; FS="\n"} index($0, "MESSAGE=") && index($0, t) {
    for (i = 1; i <= NF; i++) if ($i ~ /^PRIORITY=/) { print substr($i, 10); exit } }' <<<"$export_log"
}
check "info line at priority 6" [ "$(entry 'MESSAGE=GPIO init')" = 6 ]
check "restart reason at priority 6" [ "$(entry 'MESSAGE=restart asked for by viewer 127.0.0.1')" = 6 ]
check "no prefix left in a message" bash -c "! grep -q '^MESSAGE=<[0-9]>' <<<\"\$1\"" _ "$export_log"
check "no colour codes in the journal" bash -c "! grep -q $'\033' <<<\"\$1\"" _ "$export_log"
run systemctl stop $sim

# -- no can0: slow restarts, and the reason.
unit=pelquarinthos-wired.service
run systemctl start --no-block $unit
t0=$(ms)
sleep 10
restarts=$(prop $unit NRestarts)
lines=$(run journalctl -u $unit --since "-11s" -o cat --no-pager | wc -l)
echo "no can0: $restarts restarts and $lines journal lines in 10 s"
check "at most one restart per ~2 s ($restarts in 10 s)" [ "$restarts" -ge 2 ] && [ "$restarts" -le 6 ]
export_log=$(run journalctl -u $unit -o export --no-pager)
check "the reason at priority 3" [ "$(entry 'MESSAGE=CAN socket open error: can0: ')" = 3 ]
check "a warning at priority 4" [ "$(entry 'MESSAGE=GPIO: no gpiochip0')" = 4 ]
run systemctl stop $unit

# -- purge.
rm -f "$root/etc/systemd/system/$sim"
run systemctl daemon-reload
run dpkg --purge pelquarinthos-wired >"$tmp/purge.log" 2>&1
check "dpkg --purge (see purge.log)" [ $? -eq 0 ]
left=$(run find /etc /lib/systemd /usr /var/lib /run -name '*pelquarinthos*' -not -path '/var/lib/private/*' \
  -not -path '/var/lib/pelquarinthos-wired-sim' 2>/dev/null)
check "nothing left behind: $left" [ -z "$left" ]
dangling=$(run find /etc/systemd -xtype l 2>/dev/null)
check "no dangling service links: $dangling" [ -z "$dangling" ]
check "/boot settings untouched" [ "$(md5sum <"$root/boot/pelquarinthos-wired.conf")" = "$conf_sum" ]

echo "install test took $(($(date +%s) - started)) s"
check_summary "nspawn"
