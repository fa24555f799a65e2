# Edits the firmware's boot configuration (config.txt); sourced by
# hdmi-change.sh and hdmi-mode.sh.
#
# Only the keys a caller names are touched. Every active line that sets one of
# them (also the per-port form, hdmi_mode:1=...) is dropped and the new
# settings are appended at the end, under an [all] section when the file has
# conditional sections, so that no [pi4] or [HDMI:1] filter above them
# applies. Comments and every other line stay as they are, CR LF line ends
# included.
#
# The boot partition is FAT, often mounted read-only, and loses power at any
# moment: the new text goes to a temporary file in the same directory, is
# flushed and then renamed over the old one. The text before the change is
# kept as config.txt.bak, the very first one as config.txt.orig.
#
# BOOT_CONFIG names another file (tests point it at a sample). mount,
# mountpoint, findmnt and sync are looked up in PATH, so tests can fake them.

bootcfg_file() {
  if [ -n "${BOOT_CONFIG:-}" ]; then
    printf '%s\n' "$BOOT_CONFIG"
  elif [ -f /boot/firmware/config.txt ]; then
    # Raspberry Pi OS from bookworm on mounts the FAT partition here.
    printf '%s\n' /boot/firmware/config.txt
  else
    printf '%s\n' /boot/config.txt
  fi
}

bootcfg_die() {
  printf '%s: %s\n' "${0##*/}" "$1" >&2
  exit 1
}

# Remounts the partition that holds the file read-write when it is a mount
# point of its own; remembers whether it was read-only so that it is put back.
bootcfg_mount_rw() {
  bootcfg_remount_ro=0
  if mountpoint -q "$bootcfg_dir" 2>/dev/null; then
    case ",$(findmnt -n -o OPTIONS --mountpoint "$bootcfg_dir" 2>/dev/null)," in
      *,ro,*) bootcfg_remount_ro=1 ;;
    esac
    mount -o remount,rw "$bootcfg_dir" || bootcfg_die "cannot remount $bootcfg_dir read-write"
  fi
}

bootcfg_mount_restore() {
  sync
  if [ "$bootcfg_remount_ro" = 1 ]; then
    mount -o remount,ro "$bootcfg_dir" || true
  fi
}

# bootcfg_edit "key1 key2 ..." "key1=v1;key2=v2"
# Drops the active settings of the keys of the first argument, then appends
# the settings of the second (none when it is empty).
bootcfg_edit() {
  bootcfg_cfg=$(bootcfg_file)
  bootcfg_dir=$(dirname "$bootcfg_cfg")
  [ -f "$bootcfg_cfg" ] || bootcfg_die "no boot configuration at $bootcfg_cfg"

  # Two viewer commands can run the scripts at the same time: one edit at a
  # time. The lock is on the directory because the file itself is replaced.
  if command -v flock >/dev/null 2>&1; then
    exec 9<"$bootcfg_dir"
    flock 9
  fi

  bootcfg_mount_rw
  bootcfg_tmp="$bootcfg_cfg.pqw-new"
  if ! awk -v keys="$1" -v add="$2" '
    BEGIN {
      n = split(keys, k, " ")
      for (i = 1; i <= n; i++) drop[k[i]] = 1
      sections = 0; last = ""; crlf = 0
    }
    {
      line = $0
      if (sub(/\r$/, "", line)) crlf = 1
      t = line
      sub(/^[ \t]+/, "", t)
      if (t ~ /^\[/) {
        sections = 1
        last = t
        sub(/[ \t]+$/, "", last)
      } else if (t !~ /^#/ && index(t, "=") > 0) {
        name = substr(t, 1, index(t, "=") - 1)
        sub(/[ \t]+$/, "", name)
        sub(/:[0-9]+$/, "", name)
        if (name in drop) next
      }
      print
    }
    END {
      eol = crlf ? "\r" : ""
      m = (add == "") ? 0 : split(add, a, ";")
      if (m > 0 && sections && tolower(last) != "[all]") printf "[all]%s\n", eol
      for (i = 1; i <= m; i++) printf "%s%s\n", a[i], eol
    }' "$bootcfg_cfg" >"$bootcfg_tmp"; then
    rm -f "$bootcfg_tmp"
    bootcfg_mount_restore
    bootcfg_die "cannot write $bootcfg_tmp"
  fi

  if cmp -s "$bootcfg_tmp" "$bootcfg_cfg"; then
    rm -f "$bootcfg_tmp"
    printf '%s: %s already set\n' "${0##*/}" "$bootcfg_cfg" >&2
  else
    [ -e "$bootcfg_cfg.orig" ] || cp "$bootcfg_cfg" "$bootcfg_cfg.orig"
    if ! cp "$bootcfg_cfg" "$bootcfg_cfg.bak"; then
      rm -f "$bootcfg_tmp"
      bootcfg_mount_restore
      bootcfg_die "cannot back up $bootcfg_cfg"
    fi
    sync
    if ! mv -f "$bootcfg_tmp" "$bootcfg_cfg"; then
      rm -f "$bootcfg_tmp"
      bootcfg_mount_restore
      bootcfg_die "cannot replace $bootcfg_cfg"
    fi
    printf '%s: %s: %s\n' "${0##*/}" "$bootcfg_cfg" "${2:-removed $1}" >&2
  fi
  bootcfg_mount_restore
}
