#!/bin/bash
# hdmi-change.sh and hdmi-mode.sh against sample boot configurations, with
# mount, mountpoint, findmnt and sync faked and nothing else in PATH but the
# plain tools the scripts use.
# usage: boot_scripts_test.sh SOURCE_DIR
set -u
src=$1/packaging/scripts
. "$(dirname "$0")/check_lib.sh" boot-scripts

bin=$tmp/bin
mkdir -p "$bin"
for tool in awk cmp cp dirname flock mv rm; do
  real=$(command -v "$tool") || {
    echo "SKIP: $tool missing"
    exit 77
  }
  ln -s "$real" "$bin/$tool"
done
# Fakes: every call is logged. MOUNTPOINT=0 makes the boot directory a mount
# point of its own, MOUNT_OPTIONS what findmnt reports for it.
for tool in mount sync; do
  printf '#!/bin/sh\necho "%s $*" >> "%s/calls.log"\n' "$tool" "$tmp" >"$bin/$tool"
done
# shellcheck disable=SC2016 # expanded by the fake, not here
printf '#!/bin/sh\necho "mountpoint $*" >> "%s/calls.log"\nexit "${MOUNTPOINT:-1}"\n' "$tmp" \
  >"$bin/mountpoint"
# shellcheck disable=SC2016
printf '#!/bin/sh\necho "findmnt $*" >> "%s/calls.log"\necho "${MOUNT_OPTIONS:-rw}"\n' "$tmp" \
  >"$bin/findmnt"
chmod +x "$bin"/*

boot=$tmp/boot
cfg=$boot/config.txt
mkdir -p "$boot"

run() {  # run SCRIPT ARGS... (environment: MOUNTPOINT, MOUNT_OPTIONS)
  : >"$tmp/calls.log"
  env -i PATH="$bin" BOOT_CONFIG="$cfg" MOUNTPOINT="${MOUNTPOINT:-1}" \
    MOUNT_OPTIONS="${MOUNT_OPTIONS:-rw}" "$src/$1" "${@:2}" 2>"$tmp/stderr"
}
same() { cmp -s "$1" "$2"; }
has_call() { grep -qxF "$1" "$tmp/calls.log"; }
no_mount_call() { ! grep -q '^mount ' "$tmp/calls.log"; }

# A Pi's file: CR LF (edited on a PC), a conditional section, a commented
# key, a per-port key, a key with blanks around '=', and others' settings.
sample=$tmp/sample.txt
printf '%s\r\n' '# For more options see config.txt docs' 'dtparam=audio=on' '#hdmi_mode=16' \
  'hdmi_group = 1' 'hdmi_mode=4' 'hdmi_drive=2' 'sdtv_mode=2' '[pi4]' 'dtoverlay=vc4-fkms-v3d' \
  'hdmi_mode:1=16' 'enable_tvout=0' >"$sample"

# -- refused arguments: exit 2, file, backups and mounts untouched.
cp "$sample" "$cfg"
bad_change=("" "2" "-1" "01" "true" "1 1" "1;reboot")
for args in "${bad_change[@]}"; do
  # shellcheck disable=SC2086 # word splitting makes the argument lists
  run hdmi-change.sh $args
  rc=$?
  check "hdmi-change.sh '$args' exits 2 (got $rc)" [ $rc -eq 2 ]
done
run hdmi-change.sh ""
rc=$?
check "hdmi-change.sh '' (one empty argument) exits 2" [ $rc -eq 2 ]
bad_mode=("1" "3 4" "0 4" "1 0" "1 108" "2 88" "1 04" "1 4x" "1 -4" "1 +4" "2 1 1" "1 9999"
  "1 4;reboot" "DMT 4" "1 0x10")
for args in "${bad_mode[@]}"; do
  # shellcheck disable=SC2086
  run hdmi-mode.sh $args
  rc=$?
  check "hdmi-mode.sh '$args' exits 2 (got $rc)" [ $rc -eq 2 ]
  check "hdmi-mode.sh '$args' leaves no mount call" no_mount_call
done
run hdmi-mode.sh 1 ""
rc=$?
check "hdmi-mode.sh 1 '' exits 2" [ $rc -eq 2 ]
run hdmi-mode.sh 1 "4 "
rc=$?
check "hdmi-mode.sh 1 '4 ' exits 2" [ $rc -eq 2 ]
check "refused arguments leave the file alone" same "$cfg" "$sample"
check "refused arguments make no .bak" [ ! -e "$cfg.bak" ]
check "refused arguments make no .orig" [ ! -e "$cfg.orig" ]
check "refused arguments leave no temporary file" [ ! -e "$cfg.pqw-new" ]

# -- hdmi-mode.sh GROUP CODE: only hdmi_group/hdmi_mode, set under [all].
run hdmi-mode.sh 2 82
rc=$?
check "hdmi-mode.sh 2 82 succeeds" [ $rc -eq 0 ]
expected=$tmp/expected.txt
printf '%s\r\n' '# For more options see config.txt docs' 'dtparam=audio=on' '#hdmi_mode=16' \
  'hdmi_drive=2' 'sdtv_mode=2' '[pi4]' 'dtoverlay=vc4-fkms-v3d' 'enable_tvout=0' '[all]' \
  'hdmi_group=2' 'hdmi_mode=82' >"$expected"
check "hdmi-mode.sh 2 82 edits only its keys" same "$cfg" "$expected"
check "the text before the change is kept as .bak" same "$cfg.bak" "$sample"
check "the first text is kept as .orig" same "$cfg.orig" "$sample"
check "no temporary file is left" [ ! -e "$cfg.pqw-new" ]
check "not a mount point: no remount" no_mount_call

# Limits of each group are accepted.
run hdmi-mode.sh 1 107
rc=$?
check "hdmi-mode.sh 1 107 succeeds" [ $rc -eq 0 ]
check "CEA 107 written" grep -q $'^hdmi_mode=107\r$' "$cfg"
check "the [all] section is not repeated" [ "$(grep -c '^\[all\]' "$cfg")" = 1 ]
check ".bak holds the previous text" same "$cfg.bak" "$expected"
check ".orig is not replaced" same "$cfg.orig" "$sample"
run hdmi-mode.sh 2 1
rc=$?
check "hdmi-mode.sh 2 1 succeeds" [ $rc -eq 0 ]
cp "$cfg" "$tmp/before-repeat.txt"
cp "$cfg.bak" "$tmp/bak-before-repeat.txt"
run hdmi-mode.sh 2 1
rc=$?
check "the same mode again succeeds" [ $rc -eq 0 ]
check "the same mode again changes nothing" same "$cfg" "$tmp/before-repeat.txt"
check "the same mode again keeps the backup" same "$cfg.bak" "$tmp/bak-before-repeat.txt"

# -- hdmi-mode.sh without arguments: back to the screen's own mode.
run hdmi-mode.sh
rc=$?
check "hdmi-mode.sh (default) succeeds" [ $rc -eq 0 ]
check "default removes hdmi_group" bash -c "! grep -q '^hdmi_group' '$cfg'"
check "default removes hdmi_mode" bash -c "! grep -q '^hdmi_mode' '$cfg'"
check "default keeps the commented line" grep -q '^#hdmi_mode=16' "$cfg"
check "default keeps hdmi_drive" grep -q '^hdmi_drive=2' "$cfg"

# -- hdmi-change.sh 1 / 0 on a plain LF file without sections.
printf '%s\n' 'dtparam=i2c_arm=on' 'hdmi_force_hotplug=1' 'hdmi_group=2' 'hdmi_mode=82' \
  'sdtv_mode=2' >"$cfg"
rm -f "$cfg.bak" "$cfg.orig"
run hdmi-change.sh 0
rc=$?
check "hdmi-change.sh 0 succeeds" [ $rc -eq 0 ]
printf '%s\n' 'dtparam=i2c_arm=on' 'hdmi_group=2' 'hdmi_mode=82' 'sdtv_mode=2' \
  'hdmi_ignore_hotplug=1' 'enable_tvout=1' >"$expected"
check "hdmi-change.sh 0 selects TV-out and keeps the mode and sdtv_mode" same "$cfg" "$expected"
run hdmi-change.sh 1
rc=$?
check "hdmi-change.sh 1 succeeds" [ $rc -eq 0 ]
printf '%s\n' 'dtparam=i2c_arm=on' 'hdmi_group=2' 'hdmi_mode=82' 'sdtv_mode=2' \
  'hdmi_force_hotplug=1' >"$expected"
check "hdmi-change.sh 1 selects HDMI" same "$cfg" "$expected"

# A last line without its line feed is ended before the new settings.
printf 'dtparam=audio=on' >"$cfg"
run hdmi-change.sh 1
printf '%s\n' 'dtparam=audio=on' 'hdmi_force_hotplug=1' >"$expected"
check "a last line without line feed is kept whole" same "$cfg" "$expected"

# -- mounts: a read-only boot partition is remounted and put back.
printf 'hdmi_mode=4\n' >"$cfg"
MOUNTPOINT=0 MOUNT_OPTIONS=ro,relatime,fmask=0022 run hdmi-mode.sh 1 16
rc=$?
check "read-only boot: succeeds" [ $rc -eq 0 ]
check "read-only boot: remounted read-write" has_call "mount -o remount,rw $boot"
check "read-only boot: put back read-only" has_call "mount -o remount,ro $boot"
check "read-only boot: flushed" has_call "sync "
rw_line=$(grep -n 'remount,rw' "$tmp/calls.log" | cut -d: -f1)
ro_line=$(grep -n 'remount,ro' "$tmp/calls.log" | cut -d: -f1)
check "read-only boot: rw before ro" [ "${rw_line:-0}" -lt "${ro_line:-0}" ]
MOUNTPOINT=0 MOUNT_OPTIONS=rw,relatime run hdmi-mode.sh 1 4
check "writable boot: remounted read-write" has_call "mount -o remount,rw $boot"
check "writable boot: left read-write" bash -c "! grep -q 'remount,ro' '$tmp/calls.log'"

# -- a missing file is an error, not a new file.
rm -f "$cfg"
run hdmi-change.sh 1
rc=$?
check "missing boot configuration exits 1" [ $rc -eq 1 ]
check "missing boot configuration is not created" [ ! -e "$cfg" ]

check_summary "boot scripts"
