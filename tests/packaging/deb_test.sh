#!/bin/bash
# The Debian package of this build: its metadata declares the runtime
# dependencies and the architecture, it holds the layout, and its postinst
# puts the default settings on /boot only when there are none.
# usage: deb_test.sh BUILD_DIR
set -u
build=$1
. "$(dirname "$0")/check_lib.sh" deb
for tool in cpack dpkg-deb; do
  command -v "$tool" >/dev/null || {
    echo "SKIP: $tool missing"
    exit 77
  }
done

(cd "$tmp" && cpack -G DEB -B "$tmp/out" --config "$build/CPackConfig.cmake") >"$tmp/cpack.log" 2>&1
rc=$?
debs=("$tmp"/out/*.deb)
check "cpack exits 0" [ $rc -eq 0 ]
check "one package: ${debs[*]}" [ ${#debs[@]} -eq 1 -a -f "${debs[0]}" ]
if [ $rc -ne 0 ] || [ ! -f "${debs[0]}" ]; then
  cat "$tmp/cpack.log" >&2
  echo "0 passed, 1 failed"
  exit 1
fi
deb=${debs[0]}
# The architecture the daemon was compiled for, from its ELF header.
machine=$(od -An -tx1 -j18 -N2 "$build/bin/pelquarinthos-wired" | tr -d ' \n')
case "$machine" in
  3e00) arch=amd64 ;;
  b700) arch=arm64 ;;
  2800) arch=armhf ;;
  *) arch="unknown ELF machine $machine" ;;
esac
check "file name" [ "$(basename "$deb")" = "pelquarinthos-wired_0.14.11_$arch.deb" ]
field() { dpkg-deb -f "$deb" "$1"; }
check "Package" [ "$(field Package)" = pelquarinthos-wired ]
check "Version" [ "$(field Version)" = 0.14.11 ]
check "Architecture $arch" [ "$(field Architecture)" = "$arch" ]
depends=$(field Depends)
dep_names=$(tr ',' '\n' <<<"$depends" | sed -e 's/^ *//' -e 's/ .*//')
for dep in libcjson1 libinih1 libcurl4 libgpiod2 libpcap0.8 iproute2 net-tools psmisc wireless-tools \
  adduser libc6 libstdc++6; do
  check "Depends lists $dep: $depends" grep -qxF "$dep" <<<"$dep_names"
done
maint=$(field Maintainer)
check "Maintainer is a name and an address: $maint" grep -qE '^[^<]+ <[^@<> ]+@[^@<> ]+>$' <<<"$maint"
check "Maintainer address is no placeholder: $maint" \
  bash -c '! grep -qE "[@.](invalid|localhost)>$" <<<"$1"' _ "$maint"

dpkg-deb -c "$deb" | awk '{print $6 ($7 == "->" ? " -> " $8 : "")}' >"$tmp/contents"
for path in ./usr/bin/pelquarinthos-wired ./usr/bin/pqw-decode \
  ./usr/share/man/man1/pqw-decode.1.gz ./usr/share/doc/pelquarinthos-wired/diagnostics.md \
  ./lib/systemd/system/pelquarinthos-wired.service \
  ./var/lib/pelquarinthos-wired/scripts/hdmi-change.sh \
  ./var/lib/pelquarinthos-wired/scripts/hdmi-mode.sh \
  ./var/lib/pelquarinthos-wired/scripts/boot-config.sh \
  "./var/lib/pelquarinthos-wired/pelquarinthos.conf -> /run/pelquarinthos.conf" \
  ./usr/share/pelquarinthos-wired/pelquarinthos-wired.conf \
  ./usr/share/doc/pelquarinthos-wired/copyright ./usr/share/doc/pelquarinthos-wired/changelog.gz \
  ./usr/share/doc/pelquarinthos-wired/viewer-protocol.md \
  ./usr/share/man/man8/pelquarinthos-wired.8.gz ./etc/default/pelquarinthos-wired; do
  check "package holds $path" grep -qxF "$path" "$tmp/contents"
done
check "package holds the Wireshark dissector where Debian's Wireshark looks" \
  grep -qE '^\./usr/lib/[a-z0-9_]+-linux-gnu[a-z]*/wireshark/plugins/pqw_camera_link\.lua$' \
  "$tmp/contents"
check "package holds nothing under /boot" bash -c "! grep -q '^\./boot' '$tmp/contents'"

# The settings file is not a conffile (a package upgrade never touches it);
# the service's environment file is.
dpkg-deb -e "$deb" "$tmp/control"
check "conffiles: only the environment file" \
  [ "$(cat "$tmp/control/conffiles")" = /etc/default/pelquarinthos-wired ]
for s in postinst prerm postrm; do
  check "$s is executable" [ -x "$tmp/control/$s" ]
done

root=$tmp/root
dpkg-deb -x "$deb" "$root"
top=$(gzip -dc "$root/usr/share/doc/pelquarinthos-wired/changelog.gz" | head -1)
check "changelog's latest entry is this version: $top" \
  grep -q "^pelquarinthos-wired ($(field Version)) " <<<"$top"
# Debian's hardening: full RELRO with immediate binding, fortified calls.
# Sanitizer builds leave the flags out (they do not mix), so only the plain
# build's package is held to them.
sanitized=$(sed -n 's/^PQW_SANITIZE:STRING=//p' "$build/CMakeCache.txt" 2>/dev/null)
if [ -z "$sanitized" ] && command -v readelf >/dev/null; then
  elf=$root/usr/bin/pelquarinthos-wired
  check "daemon has RELRO" bash -c "readelf -lW '$elf' | grep -q GNU_RELRO"
  check "daemon binds now" bash -c "readelf -dW '$elf' | grep -qE 'BIND_NOW|FLAGS_1.*NOW'"
  check "daemon uses fortified calls" bash -c "readelf -sW --dyn-syms '$elf' | grep -q '__[a-z]*_chk@'"
fi
if command -v lintian >/dev/null; then
  # A CPack package is no source package: the tags about its missing
  # source-side files are not ours to fix.
  lintian --no-tag-display-limit "$deb" >"$tmp/lintian.log" 2>&1
  errors=$(grep -E '^E: ' "$tmp/lintian.log")
  check "lintian reports no error: $errors" [ -z "$errors" ]
  grep -E '^[WI]: ' "$tmp/lintian.log" | sed 's/^/lintian: /'
else
  echo "NOTE: lintian missing (scripts/setup installs it): lintian not run"
fi

# The maintainer scripts' systemd calls, with the tools faked: removal masks
# the unit, purge removes its links and the mask.
mkdir -p "$tmp/bin"
for tool in systemctl deb-systemd-helper deb-systemd-invoke; do
  printf '#!/bin/sh\necho "%s $*" >> "%s/calls.log"\nexit 0\n' "$tool" "$tmp" >"$tmp/bin/$tool"
done
chmod +x "$tmp/bin"/*
u=pelquarinthos-wired.service
w=pelquarinthos-wired-web.service
for step in "remove:deb-systemd-helper mask $u|deb-systemd-helper mask $w" \
  "purge:deb-systemd-helper purge $u|deb-systemd-helper unmask $u|deb-systemd-helper purge $w|deb-systemd-helper unmask $w"; do
  rm -f "$tmp/calls.log"
  env -i PATH="$tmp/bin:/usr/bin:/bin" "$tmp/control/postrm" "${step%%:*}" >/dev/null 2>&1
  calls=$(grep deb-systemd-helper "$tmp/calls.log" 2>/dev/null | paste -sd'|')
  check "postrm ${step%%:*}: $calls" [ "$calls" = "${step#*:}" ]
done
rm -f "$tmp/bin"/* "$tmp/calls.log"

# postinst configure in an alternate root (DPKG_ROOT), with mount tools and
# systemd faked away.
mkdir -p "$root/boot" "$tmp/bin"
for tool in cat cp dirname grep mv rm; do
  ln -s "$(command -v "$tool")" "$tmp/bin/$tool"
done
for tool in mountpoint findmnt mount sync systemctl deb-systemd-helper deb-systemd-invoke; do
  printf '#!/bin/sh\necho "%s $*" >> "%s/calls.log"\nexit 1\n' "$tool" "$tmp" >"$tmp/bin/$tool"
done
chmod +x "$tmp/bin"/*
postinst() {
  env -i PATH="$tmp/bin" DPKG_ROOT="$root" "$tmp/control/postinst" configure "$@" \
    >"$tmp/postinst.out" 2>&1
}
conf=$root/boot/pelquarinthos-wired.conf
postinst ""
check "postinst exits 0" [ $? -eq 0 ]
check "postinst writes the default settings when none exist" \
  cmp -s "$conf" "$root/usr/share/pelquarinthos-wired/pelquarinthos-wired.conf"
check "no temporary file left" [ ! -e "$conf.dpkg-new" ]
printf 'control_enabled=1\r\n' >"$conf"
postinst 0.14.10
check "postinst on upgrade exits 0" [ $? -eq 0 ]
check "postinst keeps the user's settings" [ "$(cat "$conf")" = $'control_enabled=1\r' ]
check "with DPKG_ROOT nothing touches the running system" \
  bash -c "! grep -qE '^(systemctl|deb-systemd)' '$tmp/calls.log' 2>/dev/null"
rm -f "$conf"
rmdir "$root/boot"
postinst ""
check "postinst without a boot directory still exits 0" [ $? -eq 0 ]
check "postinst says why it wrote nothing" grep -q "cannot write" "$tmp/postinst.out"

check_summary "deb"
