#!/bin/sh
# hdmi-mode.sh [GROUP CODE] - make an HDMI mode permanent.
#   GROUP 1 = CEA (TVs), 2 = DMT (monitors); CODE is the mode's number in that
#   group (CEA 1-107, DMT 1-87), as tvservice -m CEA / -m DMT lists them.
#   Without arguments the mode is left to the screen again (EDID).
# Run by the daemon from its working directory after a viewer picks an HDMI
# mode and asks to keep it. Only hdmi_group and hdmi_mode are touched.
set -eu
# shellcheck source=boot-config.sh
. "$(dirname "$0")/boot-config.sh"

usage() {
  echo "usage: hdmi-mode.sh [GROUP CODE]   (GROUP 1 = CEA, 2 = DMT)" >&2
  exit 2
}

keys="hdmi_group hdmi_mode"
case $# in
  0)
    bootcfg_edit "$keys" ""
    ;;
  2)
    case "$1" in
      1) max=107 ;;
      2) max=87 ;;
      *) usage ;;
    esac
    # Plain decimal only: no sign, no leading zero, no blanks, at most three
    # digits, so that nothing but a number reaches the file.
    case "$2" in
      "" | *[!0-9]* | 0*) usage ;;
    esac
    if [ ${#2} -gt 3 ] || [ "$2" -gt "$max" ]; then
      usage
    fi
    bootcfg_edit "$keys" "hdmi_group=$1;hdmi_mode=$2"
    ;;
  *)
    usage
    ;;
esac
