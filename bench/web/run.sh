#!/bin/sh
# Builds the daemon, the simulator, pqw-web and the benches (Release) and runs
# the web console benchmark and the live video benchmark (headless Chromium
# and ffmpeg), then the video relay bench three times on a short
# configuration: without the console, with pqw-web and three event streams
# beside the daemon, and with pqw-web and four video watchers. By hand only;
# takes a quarter of an hour.
# BUILD=dir picks the build dir; RELAY_ARGS overrides the relay bench's
# arguments (default: --sizes 1400,16000 --viewers 1,5).
set -e
cd "$(dirname "$0")/../.."
B=${BUILD:-build-bench}
cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPQW_TESTS=OFF >/dev/null
cmake --build "$B" --target pelquarinthos-wired pqw-camsim pqw-web pqw-bench-web \
  pqw-bench-video-relay pqw-bench-relay-baseline
BIN=$(cd "$B/bin" && pwd)
echo "== web console"
"$BIN/pqw-bench-web" --bin "$BIN" "$@" || true
echo "== live video in the console"
/usr/bin/python3 bench/web/web_video_bench.py --bin "$BIN" --out "$B" || true
ARGS=${RELAY_ARGS:---sizes 1400,16000 --viewers 1,5}
echo "== video relay, baseline (no console)"
# shellcheck disable=SC2086
"$BIN/pqw-bench-video-relay" --bin "$BIN" $ARGS | tee /tmp/pqw-bench-web-relay-base.txt
echo "== video relay with pqw-web and three event streams"
# shellcheck disable=SC2086
"$BIN/pqw-bench-video-relay" --bin "$BIN" $ARGS \
  --companion "$BIN/pqw-bench-web --bin $BIN --load {viewer}" | tee /tmp/pqw-bench-web-relay-web.txt
echo "== video relay with pqw-web and four video watchers"
# shellcheck disable=SC2086
"$BIN/pqw-bench-video-relay" --bin "$BIN" $ARGS \
  --companion "/usr/bin/python3 $PWD/bench/web/web_video_bench.py --bin $BIN --load {viewer}" |
  tee /tmp/pqw-bench-web-relay-video.txt
echo "== the daemon against the best minimal relay: baseline, with the console, with video watchers"
grep -A6 'rate / best baseline' /tmp/pqw-bench-web-relay-base.txt
grep -A6 'rate / best baseline' /tmp/pqw-bench-web-relay-web.txt
grep -A6 'rate / best baseline' /tmp/pqw-bench-web-relay-video.txt
grep -h 'pqw-web beside the relay' /tmp/pqw-bench-relay.*/companion.log 2>/dev/null | tail -1
