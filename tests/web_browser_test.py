#!/usr/bin/python3
"""pqw-web in a real browser: headless Chromium at phone size (360 px) loads
the page from pqw-web in front of the daemon in --sim, sees "connected" and
the simulator's ISO, taps record and sees the simulator start recording,
changes a setting and finds it in the sandbox's configuration file, and shows
"daemon not reachable" once the daemon is stopped.

Runs in a private network namespace when it can (root): loopback only, so the
browser cannot reach anything else. Exits 77 (skipped) when Chromium,
ChromeDriver or Selenium are missing."""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import web_browser_support as support  # noqa: E402

SKIP = 77
CHROMIUM = "/usr/bin/chromium"
DRIVER = "/usr/bin/chromedriver"


def skip(why):
    print("SKIPPED: " + why)
    sys.exit(SKIP)


def in_private_network():
    """Re-runs this script inside a new network namespace with only lo up."""
    if os.environ.get("PQW_WEB_NETNS") == "1" or os.geteuid() != 0 or not shutil.which("unshare"):
        return
    env = dict(os.environ, PQW_WEB_NETNS="1")
    cmd = ["unshare", "--net", "sh", "-c", 'ip link set lo up && exec "$0" "$@"',
           sys.executable] + sys.argv
    probe = subprocess.run(["unshare", "--net", "true"], capture_output=True)
    if probe.returncode == 0:
        sys.exit(subprocess.run(cmd, env=env).returncode)


def free_port(kind):
    s = socket.socket(socket.AF_INET, kind)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_for(what, cond, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            value = cond()
            if value:
                return value
        except Exception:  # a page element between two renders
            pass
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def main():
    if not (os.access(CHROMIUM, os.X_OK) and os.access(DRIVER, os.X_OK)):
        skip("chromium and chromium-driver are not installed (scripts/setup installs them)")
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
    except ImportError:
        skip("python3-selenium is not installed (scripts/setup installs it)")
    in_private_network()

    bin_dir = os.environ.get("PQW_BIN_DIR", os.path.dirname(os.path.abspath(__file__)))
    work = tempfile.mkdtemp(prefix="pqw-web-browser-")
    procs = []
    driver = None
    ok = False
    try:
        sim = os.path.join(work, "sim")
        viewer_port = free_port(socket.SOCK_DGRAM)
        daemon = subprocess.Popen(
            [os.path.join(bin_dir, "pelquarinthos-wired"), "--sim", "--sim-dir", sim,
             "--shm-prefix", "pqwwebbrowser%d" % os.getpid(), "--viewer-port", str(viewer_port),
             "--video-port", str(free_port(socket.SOCK_DGRAM)),
             "--djigo-port", str(free_port(socket.SOCK_STREAM))],
            stdout=open(os.path.join(work, "daemon.out"), "w"), stderr=subprocess.STDOUT,
            start_new_session=True)
        procs.append(daemon)
        web_out = os.path.join(work, "web.out")
        web = subprocess.Popen(
            [os.path.join(bin_dir, "pqw-web"), "--listen", "127.0.0.1:0", "--daemon",
             "127.0.0.1:%d" % viewer_port, "--health", os.path.join(work, "health.json")],
            stdout=open(web_out, "w"), stderr=subprocess.STDOUT)
        procs.append(web)
        line = wait_for("pqw-web to listen",
                        lambda: "listening on" in open(web_out).read() and open(web_out).read(), 5)
        port = int(line.split("listening on ")[1].split(",")[0].rsplit(":", 1)[1])
        url = "http://127.0.0.1:%d/" % port

        opts = webdriver.ChromeOptions()
        opts.binary_location = CHROMIUM
        for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage",
                  "--user-data-dir=" + os.path.join(work, "chromium")]:
            opts.add_argument(a)
        opts.add_experimental_option("mobileEmulation", {
            "deviceMetrics": {"width": 360, "height": 740, "pixelRatio": 3.0, "touch": True}})
        driver = webdriver.Chrome(service=Service(DRIVER, log_path=os.path.join(work, "driver.log")),
                                  options=opts)
        driver.get(url)
        text = lambda id_: driver.find_element(By.ID, id_).text.strip()

        wait_for('"connected"', lambda: text("status") == "connected", 20)
        wait_for("the ISO", lambda: text("v-iso") == "100", 10)
        width = driver.execute_script("return [document.documentElement.clientWidth,"
                                      " document.documentElement.scrollWidth]")
        assert width[0] == 360 and width[1] <= 360, "laid out %r wide, not for a phone" % width
        weight = driver.execute_script(
            "return performance.getEntriesByType('resource').concat("
            "performance.getEntriesByType('navigation'))"
            ".filter(e => !e.name.includes('/api/')).reduce((n, e) => n + e.transferSize, 0)")
        assert weight < 150000, "the page weighs %d bytes" % weight

        driver.find_element(By.ID, "rec").click()
        camsim_log = os.path.join(sim, "camsim.log")
        wait_for("the simulator to record",
                 lambda: '"effect":"record start"' in open(camsim_log).read(), 10)
        wait_for("the page to show recording", lambda: text("rec-state").startswith("REC"), 10)

        conf = os.path.join(sim, "root", "boot", "pelquarinthos-wired.conf")
        wait_for("the settings form", lambda: text("settings-state").startswith("version"), 15)
        box = driver.find_element(By.ID, "s-osd_en")
        driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", box)
        want = "0" if box.is_selected() else "1"
        box.click()
        wait_for("osd_enabled=" + want + " in the file",
                 lambda: ("\r\nosd_enabled=%s\r\n" % want) in open(conf, newline="").read(), 10)

        daemon.send_signal(signal.SIGTERM)
        daemon.wait(5)
        wait_for('"daemon not reachable"', lambda: text("status") == "daemon not reachable", 10)
        ok = True
        print("web_browser_test: passed")
    finally:
        support.finish(driver, procs, "pqwwebbrowser%d" % os.getpid(), work, ok)
    return 0


if __name__ == "__main__":
    sys.exit(main())
