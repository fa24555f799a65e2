#!/bin/bash
# The folders are floors, bottom first, in the order the top CMakeLists.txt
# declares (PQW_FLOORS). Product code includes only its own floor and the
# ones below: an include that climbs is the first step of a call that climbs,
# which the per-folder libraries then refuse to link. No product file
# includes test support (testing/) or the simulator's code (tools/).
# Tests (*_test.cc) sit beside their code but link everything; they are free.
# usage: floors_lint_test.sh SOURCE_DIR "platform core ... app"
set -u
cd "$1" || exit 1
read -r -a floors <<<"$2"
declare -A level
for i in "${!floors[@]}"; do level[${floors[$i]}]=$i; done
bad=""
files=0
for floor in "${floors[@]}"; do
  for f in $(find "$floor" -name '*.cc' -o -name '*.h' | grep -v '_test\.cc$' | sort); do
    files=$((files + 1))
    while IFS= read -r line; do
      inc=$(sed -E 's/^#include "([^"]+)".*/\1/' <<<"$line")
      top=${inc%%/*}
      if [ "$top" = testing ] || [ "$top" = tools ]; then
        bad+="$f: includes $inc (not product code)"$'\n'
      elif [ -n "${level[$top]+x}" ] && [ "${level[$top]}" -gt "${level[$floor]}" ]; then
        bad+="$f: includes $inc ($top is above $floor)"$'\n'
      fi
    done < <(grep -E '^#include "[^"]+"' "$f")
  done
done
if [ -n "$bad" ]; then
  echo "includes that climb (order: ${floors[*]}):"
  printf '%s' "$bad"
  echo "0 passed, 1 failed"
  exit 1
fi
echo "floors lint: $files files, no include climbs (${floors[*]})"
echo "1 passed, 0 failed"
