"""What the live video's browser test and benchmark share: free ports, a
bounded wait, headless Chromium at phone size, and stopping what they
started."""
import os
import shutil
import signal
import socket
import subprocess
import time

CHROMIUM = "/usr/bin/chromium"
DRIVER = "/usr/bin/chromedriver"


def browser_present():
    return os.access(CHROMIUM, os.X_OK) and os.access(DRIVER, os.X_OK)


def free_port(kind, addr="127.0.0.1"):
    s = socket.socket(socket.AF_INET, kind)
    s.bind((addr, 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_for(what, cond, timeout):
    end = time.monotonic() + timeout
    last = None
    while time.monotonic() < end:
        try:
            last = cond()
            if last:
                return last
        except Exception as e:  # a page element between two renders
            last = e
        time.sleep(0.1)
    raise AssertionError("timed out waiting for %s (last: %r)" % (what, last))


def phone_browser(work):
    """Headless Chromium, 360 x 740 at 3x, autoplay allowed, nothing fetched
    from elsewhere."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    opts = webdriver.ChromeOptions()
    opts.binary_location = CHROMIUM
    for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
              "--disable-background-networking", "--disable-component-update", "--disable-sync",
              "--disable-dev-shm-usage", "--autoplay-policy=no-user-gesture-required",
              "--user-data-dir=" + os.path.join(work, "chromium")]:
        opts.add_argument(a)
    opts.add_experimental_option("mobileEmulation", {
        "deviceMetrics": {"width": 360, "height": 740, "pixelRatio": 3.0, "touch": True}})
    return webdriver.Chrome(service=Service(DRIVER, log_path=os.path.join(work, "driver.log")), options=opts)


def start_daemon(bin_dir, work, shm_prefix):
    """The daemon in --sim on free ports: (process, viewer port, video port)."""
    viewer_port = free_port(socket.SOCK_DGRAM)
    video_port = free_port(socket.SOCK_DGRAM)
    daemon = subprocess.Popen(
        [os.path.join(bin_dir, "pelquarinthos-wired"), "--sim", "--sim-dir", os.path.join(work, "sim"),
         "--shm-prefix", shm_prefix, "--viewer-port", str(viewer_port), "--video-port", str(video_port),
         "--djigo-port", str(free_port(socket.SOCK_STREAM))],
        stdout=open(os.path.join(work, "daemon.out"), "w"), stderr=subprocess.STDOUT, start_new_session=True)
    return daemon, viewer_port, video_port


def start_web(bin_dir, work, listen, viewer_port, watchers_max):
    """pqw-web in front of the daemon: (process, the port it serves on)."""
    out = os.path.join(work, "web.out")
    web = subprocess.Popen(
        [os.path.join(bin_dir, "pqw-web"), "--listen", listen + ":0", "--daemon", "127.0.0.1:%d" % viewer_port,
         "--health", os.path.join(work, "health.json"), "--video-watchers", str(watchers_max)],
        stdout=open(out, "w"), stderr=subprocess.STDOUT)
    line = wait_for("pqw-web to listen", lambda: "listening on" in open(out).read() and open(out).read(), 5)
    return web, int(line.split("listening on ")[1].split(",")[0].rsplit(":", 1)[1])


def finish(driver, procs, shm_prefix, work, ok):
    """Closes the browser, stops the programs (last started first), removes
    the daemon's shared memory and the work folder (kept after a failure
    with PQW_E2E_KEEP=1)."""
    if driver:
        driver.quit()
    stop_all(procs, shm_prefix)
    if ok or os.environ.get("PQW_E2E_KEEP") != "1":
        shutil.rmtree(work, ignore_errors=True)
    else:
        print("kept " + work)


def stop_all(procs, shm_prefix):
    for p in reversed(procs):
        if p.poll() is None:
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(3)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
    for shm in ("hud_mem", "config_mem"):
        try:
            os.unlink("/dev/shm/%s%s" % (shm_prefix, shm))
        except OSError:
            pass


def sent_times(log):
    """The sender's log: frame number in the stream -> ms when its last
    datagram went (the latest pass when it loops)."""
    sent = {}
    for ln in open(log).read().split("\n"):
        if ln:
            f, t = ln.split()
            sent[int(f)] = float(t) * 1000
    return sent
