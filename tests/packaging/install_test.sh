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
    -e '^\./lib/systemd/system/pelquarinthos-wired-web\.service$' \
    -e '^\./etc/default/pelquarinthos-wired$')
check "no file outside the layout: $unexpected" [ -z "$unexpected" ]
check "the service's environment file" grep -q '^#PQW_VIEWER_ALLOW=' "$stage/etc/default/pelquarinthos-wired"

# Every program: --version, and a man page that names every option of its
# --help (skipped where the programs cannot run, as in cross builds).
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
for prog in "${programs[@]}"; do
  page=$(ls "$stage"/usr/share/man/man[18]/"$prog".[18].gz 2>/dev/null | head -1)
  check "man page for $prog" [ -n "$page" ]
  help=$("$build/bin/$prog" --help 2>/dev/null)
  rc=$?
  if [ $rc -ge 126 ]; then
    echo "NOTE: $prog cannot run here: --help and --version not checked"
    continue
  fi
  check "$prog --help exits 0" [ $rc -eq 0 ]
  check "$prog --version" [ "$("$build/bin/$prog" --version)" = "$prog $version" ]
  [ -n "$page" ] || continue
  text=$(gzip -dc "$page" | sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g')
  for opt in $(grep -oE -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u); do
    check "$prog's man page names $opt" grep -qF -- "$opt" <<<"$text"
  done
done
check "no test program installed" bash -c "! ls '$stage/usr/bin' | grep -q _test"

check_summary "install"
