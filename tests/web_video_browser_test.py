#!/usr/bin/python3
"""The live picture in a phone-size browser, end to end: Debian's ffmpeg
makes an H.264 test stream (moving pattern, 640x360 then 480x270 then
640x360 again, 30 fps, key frame every 2 s, the frame number as a stripe of
blocks along the top); a sender puts it on the daemon's video port (--sim)
in datagrams of at most 1400 bytes at its real rate, losing 5 % of them for
a while; pqw-web serves the page at 10.77.0.1 inside a private network
namespace (not loopback: the page is not a secure context, like a phone on
the rig's Wi-Fi); headless Chromium at 360 x 740 shows it.

Checks: the "no video" message before the stream; frames decoded and
presented, currentTime advancing, the picture not blank (pixel variance of
a frame drawn to a canvas) and its frame number moving on; through the
resolution change and the loss; the second watcher refused with 503 when
the limit is one; pqw-web gives up the video within 5 s of the page going.
Screenshots go to the build folder. Exits 77 (skipped) without Chromium,
ChromeDriver, Selenium or ffmpeg."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import web_browser_support as support  # noqa: E402
import web_video_send  # noqa: E402

SKIP = 77
ADDR = "10.77.0.1"
wait_for = support.wait_for


def skip(why):
    print("SKIPPED: " + why)
    sys.exit(SKIP)


def in_private_network():
    """Re-runs this script in a new network namespace whose loopback also
    carries ADDR; returns the address to serve on."""
    if os.environ.get("PQW_WEB_NETNS") == "1":
        return ADDR
    if os.geteuid() != 0 or not shutil.which("unshare") or \
            subprocess.run(["unshare", "--net", "true"], capture_output=True).returncode != 0:
        print("note: no private network namespace (needs root); serving on 127.0.0.1")
        return "127.0.0.1"
    env = dict(os.environ, PQW_WEB_NETNS="1")
    cmd = ["unshare", "--net", "sh", "-c",
           'ip link set lo up && ip addr add %s/24 dev lo && exec "$0" "$@"' % ADDR,
           sys.executable] + sys.argv
    sys.exit(subprocess.run(cmd, env=env).returncode)


# The picture as the page shows it: size, frames presented, playhead, pixel
# variance of the current frame, and the frame number read from its stripe.
PROBE = """
const v = document.getElementById('video');
if (!v) return null;
const q = v.getVideoPlaybackQuality();
const r = {w: v.videoWidth, h: v.videoHeight, t: v.currentTime, frames: q.totalVideoFrames,
           dropped: q.droppedVideoFrames, variance: 0, number: -1, now: performance.timeOrigin + performance.now(),
           msg: document.querySelector('#video-slot .vid-msg').textContent,
           msgShown: !document.querySelector('#video-slot .vid-msg').hidden,
           info: document.querySelector('#video-slot .vid-info').textContent,
           error: document.getElementById('video-slot').dataset.error || ''};
if (!v.videoWidth) return r;
const c = document.createElement('canvas');
c.width = v.videoWidth; c.height = v.videoHeight;
const g = c.getContext('2d', {willReadFrequently: true});
g.drawImage(v, 0, 0);
const px = g.getImageData(0, 0, c.width, c.height).data;
let n = 0, sum = 0, sq = 0;
for (let i = 0; i < px.length; i += 4 * 97) { const y = px[i] * 0.3 + px[i + 1] * 0.59 + px[i + 2] * 0.11; sum += y; sq += y * y; n++; }
r.variance = sq / n - (sum / n) * (sum / n);
const block = Math.max(4, Math.floor(c.width / (BITS + 2)));
let num = 0;
for (let b = 0; b < BITS; b++) {
  const x = 2 + b * block + Math.floor(block / 2), y = 2 + Math.floor(block / 2);
  if (px[(y * c.width + x) * 4] > 128) num |= 1 << b;
}
r.number = num;
return r;
""".replace("BITS", str(web_video_send.STRIPE_BITS))


def main():
    if not support.browser_present():
        skip("chromium and chromium-driver are not installed (scripts/setup installs them)")
    if not web_video_send.ffmpeg_present():
        skip("ffmpeg is not installed (scripts/setup installs it)")
    try:
        import selenium  # noqa: F401
    except ImportError:
        skip("python3-selenium is not installed (scripts/setup installs it)")
    addr = in_private_network()

    bin_dir = os.environ.get("PQW_BIN_DIR", os.path.dirname(os.path.abspath(__file__)))
    out_dir = os.environ.get("PQW_OUT_DIR", bin_dir)
    fps = 30
    parts = [("640x360", 6), ("480x270", 4), ("640x360", 4)]
    stream = web_video_send.make(os.path.join(out_dir, "web_video_test_stream.h264"), parts, fps)
    work = tempfile.mkdtemp(prefix="pqw-web-video-")
    procs = []
    shm = ""
    driver = None
    ok = False
    stop_sending = threading.Event()
    try:
        shm = "pqwwebvideo%d" % os.getpid()
        daemon, viewer_port, video_port = support.start_daemon(bin_dir, work, shm)
        procs.append(daemon)
        web, port = support.start_web(bin_dir, work, addr, viewer_port, 1)
        procs.append(web)
        url = "http://%s:%d/" % (addr, port)

        def status():
            with urllib.request.urlopen(url + "api/status", timeout=2) as r:
                return json.loads(r.read())

        driver = support.phone_browser(work)
        driver.get(url)
        probe = lambda: driver.execute_script(PROBE)
        shot = lambda name: driver.save_screenshot(os.path.join(out_dir, "web_video_%s.png" % name))
        if addr != "127.0.0.1":
            assert driver.execute_script("return window.isSecureContext") is False
        assert driver.execute_script(
            "return MediaSource.isTypeSupported('video/mp4; codecs=\"avc1.42E01E\"')"), \
            "this Chromium cannot play H.264 through Media Source Extensions"

        # Before any video: a plain message.
        wait_for('"no video"', lambda: probe()["msgShown"] and "no video" in probe()["msg"], 15)
        shot("1-no-video")

        # The stream, looping, 5 % of the datagrams lost from 7.5 s to 9.5 s
        # of each pass (in the 480x270 part).
        log = os.path.join(work, "frames.log")
        period = sum(s for _, s in parts)

        def sender():
            t0 = time.monotonic()
            while not stop_sending.is_set():
                web_video_send.send(stream, "127.0.0.1", video_port, fps=fps, loss=0.05,
                                    loss_from=7.5, loss_to=9.5, log=log, seconds=period)
                if time.monotonic() - t0 > 120:
                    break
        t_send = time.monotonic()
        threading.Thread(target=sender, daemon=True).start()

        # Frames decoded and presented, the playhead moving, a real picture.
        first = wait_for("the 640x360 picture", lambda: (lambda p: p if p["w"] == 640 and p["frames"] > 10 else None)(probe()), 15)
        time.sleep(1.0)
        p = probe()
        assert p["frames"] > first["frames"] + 15, "frames are not presented: %r then %r" % (first, p)
        assert p["t"] > first["t"] + 0.5, "the playhead does not advance: %r then %r" % (first, p)
        assert p["variance"] > 200, "the picture is blank: %r" % p
        assert p["number"] > first["number"], "the picture does not move on: %r then %r" % (first, p)
        assert not p["msgShown"], "a message covers the picture: %r" % p
        wait_for("frame rate and size in the page", lambda: "640×360" in probe()["info"], 5)
        shot("2-640x360")
        # How far behind the sender the picture is (the frame number on screen
        # against the sender's log).
        sent = support.sent_times(log)
        p = probe()
        if p["number"] in sent:
            print("picture behind the sender by %.0f ms" % (p["now"] - sent[p["number"]]))

        # The picture keeps going at a size: WIDTH frames whose number rises by
        # MORE within one stretch of that size. The stream loops (14 s a
        # pass), so a slow machine that misses one stretch gets the next:
        # a restart of the player after a damaged frame costs up to a key
        # frame interval, and under a sanitizer the page may need more.
        def frames_go_on(width, more, timeout):
            base = {}

            def step():
                p = probe()
                if p["w"] != width or p["variance"] <= 200:
                    base.clear()
                    return None
                if not base or p["number"] < base["number"]:
                    base.update(p)
                    return None
                return p if p["number"] > base["number"] + more else None
            return wait_for("%d-wide frames to go on" % width, step, timeout)

        # The resolution change at 6 s, then the loss, then back to 640x360.
        wait_for("the 480x270 picture", lambda: probe()["w"] == 480, 12 + period)
        frames_go_on(480, 10, 2 * period)
        shot("3-480x270")
        wait_for("the loss phase to pass", lambda: time.monotonic() - t_send > 10.3, 10)
        shot("4-after-loss")
        frames_go_on(640, 20, 2 * period)
        shot("5-640x360-again")
        s = status()["video"]
        print("pqw-web video: %r" % s)
        assert s["watchers"] == 1 and s["format"] == "h264", s

        # A second watcher with the limit at one: a clear 503.
        refused = driver.execute_async_script(
            "const done = arguments[0]; fetch('/api/video').then(r => r.json().then(j => done([r.status, j.error])))"
            ".catch(e => done([0, String(e)]));")
        assert refused[0] == 503 and "watchers" in refused[1], refused

        # The page goes: pqw-web stops taking video within 5 s.
        driver.get("about:blank")
        wait_for("no watcher", lambda: status()["video"]["watchers"] == 0, 5)
        f0 = status()["video"]["frames"]
        time.sleep(kLinger := 2.5)
        f1 = status()["video"]["frames"]
        time.sleep(1.0)
        f2 = status()["video"]["frames"]
        assert f2 == f1 or status()["video"]["format"] == "none", \
            "pqw-web still takes video %.1f s after the last watcher: %d %d %d" % (kLinger + 1, f0, f1, f2)
        ok = True
        print("web_video_browser_test: passed")
    finally:
        stop_sending.set()
        support.finish(driver, procs, shm, work, ok)
    return 0


if __name__ == "__main__":
    sys.exit(main())
