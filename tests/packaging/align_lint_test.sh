#!/bin/bash
# Multi-byte fields of packets, datagrams and the HudBlock sit at odd offsets;
# on the Pi's ARM cores a load through a misaligned pointer traps or is fixed
# up slowly by the kernel, so they are read with memcpy or byte assembly.
# GCC's -Wcast-align=strict catches direct casts; this catches the casts it
# cannot see: to a pointer to a multi-byte number through void* or a C cast.
# A line that must do it on purpose says so with "align-ok" in a comment.
# usage: align_lint_test.sh SOURCE_DIR
set -u
cd "$1" || exit 1
types='(u?int(16|32|64)_t|float|double|short|long|int|unsigned|size_t|ssize_t|uint_least32_t)'
cast="(reinterpret_cast|static_cast)<[[:space:]]*(const[[:space:]]+)?(volatile[[:space:]]+)?${types}[[:space:]]*\\*"
cstyle="\\([[:space:]]*(const[[:space:]]+)?${types}[[:space:]]*\\*[[:space:]]*\\)[[:space:]]*[A-Za-z_(&]"
files=$(find app config control core link periph platform viewer tools -name '*.cc' -o -name '*.h' 2>/dev/null |
  grep -v '_test\.cc$' | sort)
# shellcheck disable=SC2086 # file names without blanks
hits=$(grep -nHE "$cast|$cstyle" $files | grep -v 'align-ok')
count=$(echo "$files" | wc -w)
if [ -n "$hits" ]; then
  echo "casts to a multi-byte pointer (use memcpy or the hud_get_*/byte helpers):"
  echo "$hits"
  echo "0 passed, 1 failed"
  exit 1
fi
echo "align lint: $count files, no cast to a multi-byte pointer"
echo "1 passed, 0 failed"
