#!/bin/bash
# The systemd units: systemd-analyze verify finds nothing to say, the service
# restarts as intended, and its two shell lines do what they should once
# systemd has unescaped them (\\ -> \, $$ -> $).
# usage: unit_test.sh BUILD_DIR
set -u
build=$1
unit=$build/packaging/pelquarinthos-wired.service
sim=$build/packaging/pelquarinthos-wired-sim.service
. "$(dirname "$0")/check_lib.sh" unit
key() { grep -qxF "$1" "$unit"; }

check "unit file generated" [ -f "$unit" ]
check "sim unit file generated" [ -f "$sim" ]
check "runs in the working directory" key "WorkingDirectory=/var/lib/pelquarinthos-wired"
check "starts the daemon" key "ExecStart=/usr/bin/pelquarinthos-wired"
check "restarts on failure" key "Restart=on-failure"
check "restarts after exit 2 and 3" key "RestartForceExitStatus=2 3"
check "restarts at once" key "RestartSec=100ms"
check "never stops restarting" key "StartLimitIntervalSec=0"
check "says when it is ready" key "Type=notify"
check "has a watchdog" key "WatchdogSec=10s"
check "sim unit says when it is ready" grep -qxF "Type=notify" "$sim"
check "stdout to the journal" key "StandardOutput=journal"
check "stderr to the journal" key "StandardError=journal"
check "sim unit runs --sim" grep -qxF "ExecStart=/usr/bin/pelquarinthos-wired --sim" "$sim"
check "sim unit runs unprivileged" grep -qxF "DynamicUser=yes" "$sim"

check "web unit may read the HudBlock" grep -qxF "SupplementaryGroups=pelquarinthos" \
  "$build/packaging/pelquarinthos-wired-web.service"

# -- systemd-analyze verify, with the programs pointed at ones that exist here.
if command -v systemd-analyze >/dev/null; then
  daemon=$build/bin/pelquarinthos-wired
  [ -x "$daemon" ] || daemon=/bin/true
  web=$build/bin/pqw-web
  [ -x "$web" ] || web=/bin/true
  for u in "$unit" "$sim" "$build/packaging/pelquarinthos-wired-web.service"; do
    name=$(basename "$u")
    sed -e "s|/usr/bin/pelquarinthos-wired|$daemon|" -e "s|/usr/bin/pqw-web|$web|" "$u" >"$tmp/$name"
    out=$(systemd-analyze verify --man=no "$tmp/$name" 2>&1)
    rc=$?
    check "systemd-analyze verify $name: exit $rc, output: $out" [ "$rc$out" = 0 ]
  done
else
  echo "NOTE: systemd-analyze missing (package systemd): verify skipped"
fi

# -- ExecStartPre: the /run copy is the master without the CR at line ends.
pre=$(sed -n 's/^ExecStartPre=-\/bin\/sh -c "\(.*\)"$/\1/p' "$unit")
check "ExecStartPre is one sh -c line" [ -n "$pre" ]
cmd=$(printf '%s' "$pre" | sed -e 's/\\\\/\\/g' -e 's/\$\$/$/g')
check "ExecStartPre reads the master" grep -qF "/boot/pelquarinthos-wired.conf" <<<"$cmd"
check "ExecStartPre writes the /run copy" grep -qF "> /run/pelquarinthos.conf" <<<"$cmd"
cmd=${cmd//\/boot\//$tmp/boot/}
cmd=${cmd//\/run\//$tmp/run/}
mkdir -p "$tmp/boot" "$tmp/run"
printf 'a=1\r\nap_ssid=x\ry\r\n\r\nlast=2\r\n' >"$tmp/boot/pelquarinthos-wired.conf"
printf 'a=1\nap_ssid=x\ry\n\nlast=2\n' >"$tmp/expected"
sh -c "$cmd"
check "ExecStartPre exits 0" [ $? -eq 0 ]
check "the /run copy has the CR of each line end removed, and only those" \
  cmp -s "$tmp/run/pelquarinthos.conf" "$tmp/expected"

# -- ExecStopPost: a pause before restarting after a failure, none after the
# daemon's own exits 2 and 3 nor after a stop.
post=$(sed -n "s/^ExecStopPost=\/bin\/sh -c '\(.*\)'$/\1/p" "$unit")
check "ExecStopPost is one sh -c line" [ -n "$post" ]
post=$(printf '%s' "$post" | sed -e 's/\$\$/$/g')
mkdir -p "$tmp/bin"
printf '#!/bin/sh\necho "sleep $*" >> "%s/sleep.log"\n' "$tmp" >"$tmp/bin/sleep"
chmod +x "$tmp/bin/sleep"
pause_for() {  # pause_for SERVICE_RESULT EXIT_STATUS -> prints the sleep, if any
  rm -f "$tmp/sleep.log"
  env -i PATH="$tmp/bin" SERVICE_RESULT="$1" EXIT_STATUS="$2" /bin/sh -c "$post"
  cat "$tmp/sleep.log" 2>/dev/null
}
check "exit 2: restart at once" [ -z "$(pause_for exit-code 2)" ]
check "exit 3: restart at once" [ -z "$(pause_for exit-code 3)" ]
check "exit 1: pause" [ "$(pause_for exit-code 1)" = "sleep 2" ]
check "exit 100: pause" [ "$(pause_for exit-code 100)" = "sleep 2" ]
check "exit 23: pause" [ "$(pause_for exit-code 23)" = "sleep 2" ]
check "crash: pause" [ "$(pause_for core-dump SEGV)" = "sleep 2" ]
check "stop: no pause" [ -z "$(pause_for success TERM)" ]

check_summary "units"
