#!/bin/bash
# cmake --install into a staging directory gives the layout the service and
# the daemon rely on.
# usage: install_test.sh BUILD_DIR SOURCE_DIR "PROGRAM..."
set -u
build=$1
srcdir=$2
read -r -a programs <<<"$3"
. "$(dirname "$0")/check_lib.sh" install
stage=$tmp/stage

DESTDIR=$stage cmake --install "$build" >"$tmp/install.log" 2>&1
rc=$?
check "cmake --install exits 0 (see $tmp/install.log)" [ $rc -eq 0 ]
[ $rc -eq 0 ] || cat "$tmp/install.log" >&2

for prog in "${programs[@]}"; do
  check "/usr/bin/$prog installed executable" [ -f "$stage/usr/bin/$prog" -a -x "$stage/usr/bin/$prog" ]
done
check "the daemon is among the programs" grep -qw pelquarinthos-wired <<<"${programs[*]}"

work=$stage/var/lib/pelquarinthos-wired
check "working directory" [ -d "$work" ]
check "pelquarinthos.conf links to the /run copy" \
  [ "$(readlink "$work/pelquarinthos.conf")" = /run/pelquarinthos.conf ]
for s in hdmi-change.sh hdmi-mode.sh; do
  check "scripts/$s executable" [ -x "$work/scripts/$s" ]
  check "scripts/$s is the packaged one" cmp -s "$work/scripts/$s" "$srcdir/packaging/scripts/$s"
done
check "scripts/boot-config.sh beside them" [ -f "$work/scripts/boot-config.sh" ]
check "default settings file" cmp -s "$stage/usr/share/pelquarinthos-wired/pelquarinthos-wired.conf" \
  "$srcdir/packaging/pelquarinthos-wired.conf"
check "nothing is installed on /boot itself" [ ! -e "$stage/boot" ]
check "service unit" [ -f "$stage/lib/systemd/system/pelquarinthos-wired.service" ]
check "web console unit" [ -f "$stage/lib/systemd/system/pelquarinthos-wired-web.service" ]
check "the simulation unit is an example, not an installed unit" \
  [ -f "$stage/usr/share/doc/pelquarinthos-wired/examples/pelquarinthos-wired-sim.service" -a \
    ! -e "$stage/lib/systemd/system/pelquarinthos-wired-sim.service" ]

# Nothing lands outside /usr, /var/lib/pelquarinthos-wired and the unit.
unexpected=$(cd "$stage" && find . \( -type f -o -type l \) |
  grep -v -e '^\./usr/' -e '^\./var/lib/pelquarinthos-wired/' \
    -e '^\./lib/systemd/system/pelquarinthos-wired\.service$' \
    -e '^\./lib/systemd/system/pelquarinthos-wired-web\.service$')
check "no file outside the layout: $unexpected" [ -z "$unexpected" ]
check "no test program installed" bash -c "! ls '$stage/usr/bin' | grep -q _test"

check_summary "install"
