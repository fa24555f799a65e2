#!/usr/bin/python3
"""Live video in the console, benchmark: the daemon in --sim, pqw-web in
front of it, an H.264 test stream (640x360, 30 fps, key frame every 2 s, its
frame number in a stripe of blocks) sent to the daemon's video port at its
real rate in datagrams of at most 1400 bytes; one watcher is headless
Chromium (phone size) playing the page, the others read /api/video as a
browser would (same work for pqw-web, without four browsers on the machine).

For each rate (4 and 8 Mbit/s) and number of watchers (1 and 4) it gives:
pqw-web's CPU (% of a core, and per watcher above pqw-web taking no video),
its peak resident memory, and the latency from a frame's last datagram sent
to the daemon to that frame being presented in the page (median and p90,
from the frame number read back from the presented picture).

  web_video_bench.py --bin DIR [--seconds 20] [--rates 4,8] [--watchers 1,4]
  web_video_bench.py --load VIEWER_PORT --bin DIR   pqw-web and 4 watchers
      against a running daemon until SIGTERM (the video relay bench's companion).
Loopback only; every wait is bounded. By hand (bench/web/run.sh)."""
import json
import os
import signal
import statistics
import sys
import tempfile
import threading
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests"))
import web_browser_support as support  # noqa: E402
import web_video_send  # noqa: E402

wait_for = support.wait_for


def cpu_seconds(pid):
    f = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(f[11]) + int(f[12])) / os.sysconf("SC_CLK_TCK")


def peak_rss_kb(pid):
    for line in open("/proc/%d/status" % pid):
        if line.startswith("VmHWM:"):
            return int(line.split()[1])
    return 0


def reader(url, stop, counts, i):
    """A watcher that is not a browser: reads the stream as fast as it comes."""
    try:
        with urllib.request.urlopen(url, timeout=10) as r:
            while not stop.is_set():
                b = r.read1(65536)
                if not b:
                    break
                counts[i] += len(b)
    except Exception:
        pass


# Every presented frame: its number from the stripe and when it was presented.
COLLECT = """
window.pqwBench = [];
const v = document.getElementById('video');
const c = document.createElement('canvas');
const g = c.getContext('2d', {willReadFrequently: true});
function onFrame(now, meta) {
  if (v.videoWidth) {
    const w = v.videoWidth, block = Math.max(4, Math.floor(w / (BITS + 2)));
    c.width = w; c.height = block + 4;
    g.drawImage(v, 0, 0, w, v.videoHeight, 0, 0, w, v.videoHeight);
    const px = g.getImageData(0, 0, w, block + 4).data;
    let n = 0;
    for (let b = 0; b < BITS; b++) {
      const x = 2 + b * block + (block >> 1), y = 2 + (block >> 1);
      if (px[(y * w + x) * 4] > 128) n |= 1 << b;
    }
    window.pqwBench.push([n, performance.timeOrigin + meta.expectedDisplayTime]);
  }
  v.requestVideoFrameCallback(onFrame);
}
v.requestVideoFrameCallback(onFrame);
""".replace("BITS", str(web_video_send.STRIPE_BITS))


def run_case(bin_dir, stream, rate, watchers, seconds):
    work = tempfile.mkdtemp(prefix="pqw-video-bench-")
    shm = "pqwvbench%d" % os.getpid()
    daemon, viewer_port, video_port = support.start_daemon(bin_dir, work, shm)
    web, port = support.start_web(bin_dir, work, "127.0.0.1", viewer_port, 4)
    stop = threading.Event()
    log = os.path.join(work, "frames.log")
    sender = threading.Thread(target=lambda: web_video_send.send(
        stream, "127.0.0.1", video_port, log=log, loop=True, seconds=seconds + 30), daemon=True)
    driver = None
    try:
        sender.start()
        time.sleep(3)
        # pqw-web data-only, video flowing to the daemon: the base.
        c0, t0 = cpu_seconds(web.pid), time.monotonic()
        time.sleep(4)
        base = (cpu_seconds(web.pid) - c0) / (time.monotonic() - t0) * 100
        driver = support.phone_browser(work)
        driver.get("http://127.0.0.1:%d/" % port)
        wait_for("the picture", lambda: driver.execute_script(
            "const v = document.getElementById('video'); return v && v.videoWidth > 0"), 20)
        counts = [0] * watchers
        threads = [threading.Thread(target=reader, args=("http://127.0.0.1:%d/api/video" % port, stop, counts, i),
                                    daemon=True) for i in range(1, watchers)]
        for t in threads:
            t.start()
        time.sleep(3)  # everyone at a key frame
        driver.execute_script(COLLECT)
        c0, t0 = cpu_seconds(web.pid), time.monotonic()
        time.sleep(seconds)
        cpu = (cpu_seconds(web.pid) - c0) / (time.monotonic() - t0) * 100
        frames = driver.execute_script("return window.pqwBench")
        status = json.loads(urllib.request.urlopen("http://127.0.0.1:%d/api/status" % port, timeout=2).read())
        sent = support.sent_times(log)
        lat = sorted(shown - sent[n] for n, shown in frames if n in sent and 0 < shown - sent[n] < 5000)
        rss = peak_rss_kb(web.pid)
        return {"rate": rate, "watchers": watchers, "cpu": cpu, "base": base,
                "per_watcher": (cpu - base) / watchers, "rss_mb": rss / 1024.0,
                "presented": len(frames), "fps": len(frames) / seconds,
                "lat_median": statistics.median(lat) if lat else float("nan"),
                "lat_p90": lat[int(len(lat) * 0.9)] if lat else float("nan"),
                "readers_mbit": [c * 8 / seconds / 1e6 for c in counts[1:]],
                "video": status.get("video")}
    finally:
        stop.set()
        if driver:
            driver.quit()
        support.stop_all([daemon, web], shm)


def load(bin_dir, viewer_port):
    """pqw-web and four watchers beside a running daemon until SIGTERM."""
    work = tempfile.mkdtemp(prefix="pqw-video-load-")
    web, port = support.start_web(bin_dir, work, "127.0.0.1", viewer_port, 4)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    counts = [0] * 4
    for i in range(4):
        threading.Thread(target=reader, args=("http://127.0.0.1:%d/api/video" % port, stop, counts, i),
                         daemon=True).start()
    c0, t0 = cpu_seconds(web.pid), time.monotonic()
    stop.wait()
    print("pqw-web with 4 video watchers beside the relay: %.2f %% of a core" %
          ((cpu_seconds(web.pid) - c0) / (time.monotonic() - t0) * 100))
    web.send_signal(signal.SIGTERM)
    web.wait(3)


def main():
    args = dict(zip(sys.argv[1::2], sys.argv[2::2]))
    bin_dir = args.get("--bin")
    if not bin_dir:
        sys.exit(__doc__)
    if "--load" in args:
        return load(bin_dir, int(args["--load"]))
    seconds = float(args.get("--seconds", 20))
    rates = [int(r) for r in args.get("--rates", "4,8").split(",")]
    counts = [int(w) for w in args.get("--watchers", "1,4").split(",")]
    out_dir = args.get("--out", tempfile.gettempdir())
    print("| rate | watchers | pqw-web CPU | per watcher | data-only base | peak RSS | frames/s shown | "
          "latency median | p90 |")
    print("|---|---|---|---|---|---|---|---|---|")
    for rate in rates:
        stream = os.path.join(out_dir, "pqw-video-bench-%dM.h264" % rate)
        if not os.path.exists(stream):
            make(stream, rate)
        for w in counts:
            r = run_case(bin_dir, stream, rate, w, seconds)
            print("| %d Mbit/s | %d | %.2f %% | %.2f %% | %.2f %% | %.1f MB | %.1f | %.0f ms | %.0f ms |" %
                  (rate, w, r["cpu"], r["per_watcher"], r["base"], r["rss_mb"], r["fps"], r["lat_median"],
                   r["lat_p90"]), flush=True)
            sys.stderr.write("  %r\n" % r)


def make(out, rate):
    """The test pattern at a constant rate of `rate` Mbit/s. 640x360: the
    rate is what pqw-web's work depends on, and a small picture keeps the
    browser's own decoding from dominating the latency on a small machine."""
    web_video_send.make(out, [("640x360", 20)], bitrate="%dM" % rate)


if __name__ == "__main__":
    main()
