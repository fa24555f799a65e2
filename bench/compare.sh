#!/bin/bash
# Compares the camera-link benchmarks of this tree with an earlier revision:
# both are built (the earlier one in a temporary worktree under
# build-compare/), then run in turns, ROUNDS times each, so that a busy
# machine weighs on both alike. Prints each figure's median per side and the
# ratio this tree / base. By hand only; a few minutes.
#
#   bench/compare.sh REV [ROUNDS]      e.g. bench/compare.sh HEAD~5 7
#
# IDLE=SECONDS adds the idle cost (bench/idle of this tree run on each side's
# binaries for SECONDS, in the same turns): idle_pct_core, % of one core.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
rev=${1:?usage: bench/compare.sh REV [ROUNDS]}
rounds=${2:-7}
targets=(pelquarinthos-wired pqw-camsim can_path command_latency)

base=$top/build-compare/tree
rm -rf "$base"
git worktree prune
git worktree add -q --detach "$base" "$rev"
trap 'git -C "$top" worktree remove --force "$base"' EXIT
for dir in "$top" "$base"; do
  launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S "$dir" -B "$dir/build-compare-bin" -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
  cmake --build "$dir/build-compare-bin" --target "${targets[@]}" >/dev/null
done

# One round of one side: "name value" lines.
run() {
  local bin=$1/build-compare-bin/bin out
  out=$("$bin/can_path" 1 2>&1)
  sed -n 's/^throughput: \([0-9]*\) frames.*/can_frames_per_s \1/p' <<<"$out"
  sed -n 's/^latency in process.*median \([0-9.]*\) us.*/can_in_process_us \1/p' <<<"$out"
  sed -n 's/^latency over the simulated bus.*median \([0-9.]*\) us.*/can_over_bus_us \1/p' <<<"$out"
  out=$("$bin/command_latency" --count 200 --bin "$bin" 2>&1)
  sed -n 's/^latency over.*median \([0-9]*\) us.*/command_us \1/p' <<<"$out"
  if ((${IDLE:-0} > 0)); then
    out=$("$top/bench/idle" "$IDLE" "$bin" 2>&1)
    sed -n 's/^total \([0-9.]*\) % of a core.*/idle_pct_core \1/p' <<<"$out"
  fi
}

results=$(mktemp)
for ((i = 1; i <= rounds; i++)); do
  run "$base" | sed 's/^/base /' >>"$results"
  run "$top" | sed 's/^/this /' >>"$results"
done

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
printf '%-20s %14s %14s %8s   (%d rounds, base %s)\n' figure base this ratio "$rounds" "$rev"
names=(can_frames_per_s can_in_process_us can_over_bus_us command_us)
if ((${IDLE:-0} > 0)); then names+=(idle_pct_core); fi
for name in "${names[@]}"; do
  b=$(awk -v n=$name '$1 == "base" && $2 == n {print $3}' "$results" | median)
  t=$(awk -v n=$name '$1 == "this" && $2 == n {print $3}' "$results" | median)
  printf '%-20s %14s %14s %8s\n' "$name" "$b" "$t" "$(awk -v b="$b" -v t="$t" 'BEGIN {printf "%.2f", b ? t / b : 0}')"
done
rm -f "$results"
