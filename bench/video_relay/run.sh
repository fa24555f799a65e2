#!/bin/sh
# Builds the daemon and the bench (Release) and runs the video relay
# benchmark. By hand only; takes a few minutes. BUILD=dir picks the build dir.
set -e
cd "$(dirname "$0")/../.."
B=${BUILD:-build-bench}
cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPQW_TESTS=OFF >/dev/null
cmake --build "$B" --target pelquarinthos-wired pqw-bench-video-relay pqw-bench-relay-baseline
exec "$B/bin/pqw-bench-video-relay" --bin "$B/bin" "$@"
