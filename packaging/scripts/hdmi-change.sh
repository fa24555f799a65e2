#!/bin/sh
# hdmi-change.sh 1|0 - choose the video output for the next boot.
#   1  HDMI: forced on even when no screen answers at boot (goggles and
#      recorders are often powered after the Pi)
#   0  TV-out (composite): HDMI ignored even when a screen is plugged in;
#      enable_tvout turns the composite output on where the firmware keeps it
#      off by default (Pi 4 and later). sdtv_mode (NTSC/PAL) stays the user's.
# Run by the daemon from its working directory after a viewer changes
# hdmi_enabled. Only hdmi_force_hotplug, hdmi_ignore_hotplug and enable_tvout
# are touched.
set -eu
# shellcheck source=boot-config.sh
. "$(dirname "$0")/boot-config.sh"

usage() {
  echo "usage: hdmi-change.sh 1|0   (1 = HDMI, 0 = TV-out)" >&2
  exit 2
}

[ $# -eq 1 ] || usage
keys="hdmi_force_hotplug hdmi_ignore_hotplug enable_tvout"
case "$1" in
  1) bootcfg_edit "$keys" "hdmi_force_hotplug=1" ;;
  0) bootcfg_edit "$keys" "hdmi_ignore_hotplug=1;enable_tvout=1" ;;
  *) usage ;;
esac
