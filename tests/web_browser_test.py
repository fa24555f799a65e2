#!/usr/bin/python3
"""pqw-web in a real browser, as an operator sees it: headless Chromium at
phone size (360 x 740) opens the page from a non-loopback address, as a phone
on the rig's network would, in front of the daemon in --sim. Every check is on
what is displayed (is_displayed, inside the viewport, not covered), and every
state visited is saved as a screenshot under the build folder
(PQW_SHOT_DIR, default ./web-shots).

Visited: live without a PIN (no PIN prompt, record in reach, pickers as the
camera), scrolled to the bottom, a refused aperture, press-and-hold on the
gimbal, recording, settings held until Apply and a Wi-Fi change asking first,
the daemon stopped (values marked stale, a tap refused, not "sent"), the
daemon and pqw-web restarted (recovery within 5 s without a reload), then a
PIN: the PIN screen at once after a restart, a wrong PIN counting down, a tap
on an ended session not lost silently.

Runs in a private network namespace when it can (root): loopback only, with
10.77.0.1 added on it. Exits 77 (skipped) when Chromium, ChromeDriver or
Selenium are missing."""
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import web_browser_support as support  # noqa: E402

SKIP = 77
CHROMIUM = "/usr/bin/chromium"
DRIVER = "/usr/bin/chromedriver"
PHONE = "10.77.0.1"
PIN = "246810"
W, H = 360, 740


def skip(why):
    print("SKIPPED: " + why)
    sys.exit(SKIP)


def in_private_network():
    """Re-runs this script inside a new network namespace with only lo up,
    carrying the phone-side address too."""
    if os.environ.get("PQW_WEB_NETNS") == "1" or os.geteuid() != 0 or not shutil.which("unshare"):
        return
    env = dict(os.environ, PQW_WEB_NETNS="1")
    cmd = ["unshare", "--net", "sh", "-c",
           'ip link set lo up && ip addr add %s/24 dev lo && exec "$0" "$@"' % PHONE,
           sys.executable] + sys.argv
    probe = subprocess.run(["unshare", "--net", "true"], capture_output=True)
    if probe.returncode == 0:
        sys.exit(subprocess.run(cmd, env=env).returncode)


free_port = support.free_port
wait_for = support.wait_for


class Rig:
    def __init__(self, work, bin_dir):
        self.work = work
        self.bin = bin_dir
        self.sim = os.path.join(work, "sim")
        self.prefix = "pqwwebbrowser%d" % os.getpid()
        self.viewer_port = free_port(socket.SOCK_DGRAM)
        self.host = PHONE if os.environ.get("PQW_WEB_NETNS") == "1" else "127.0.0.1"
        self.web_port = free_port(socket.SOCK_STREAM, self.host)
        self.daemon = None
        self.web = None
        self.starts = 0

    def start_daemon(self):
        self.daemon = subprocess.Popen(
            [os.path.join(self.bin, "pelquarinthos-wired"), "--sim", "--sim-dir", self.sim,
             "--shm-prefix", self.prefix, "--viewer-port", str(self.viewer_port),
             "--video-port", str(free_port(socket.SOCK_DGRAM)),
             "--djigo-port", str(free_port(socket.SOCK_STREAM))],
            stdout=open(os.path.join(self.work, "daemon.out"), "a"), stderr=subprocess.STDOUT,
            start_new_session=True)

    def start_web(self, pin=None):
        self.starts += 1
        out = os.path.join(self.work, "web%d.out" % self.starts)
        args = [os.path.join(self.bin, "pqw-web"), "--listen",
                "%s:%d" % (self.host, self.web_port), "--daemon",
                "127.0.0.1:%d" % self.viewer_port, "--shm-prefix", self.prefix,
                "--health", os.path.join(self.work, "health.json")]
        if pin:
            args += ["--pin", pin]
        self.web = subprocess.Popen(args, stdout=open(out, "w"), stderr=subprocess.STDOUT)
        wait_for("pqw-web to listen", lambda: "listening on" in open(out).read(), 20)

    def api(self, path):
        with urllib.request.urlopen("http://%s:%d%s" % (self.host, self.web_port, path), timeout=2) as r:
            return json.loads(r.read())

    @staticmethod
    def stop(p):
        if p and p.poll() is None:
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


def main():
    if not (os.access(CHROMIUM, os.X_OK) and os.access(DRIVER, os.X_OK)):
        skip("chromium and chromium-driver are not installed (scripts/setup installs them)")
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.by import By
    except ImportError:
        skip("python3-selenium is not installed (scripts/setup installs it)")
    in_private_network()

    bin_dir = os.environ.get("PQW_BIN_DIR", os.path.dirname(os.path.abspath(__file__)))
    shots = os.path.abspath(os.environ.get("PQW_SHOT_DIR", "web-shots"))
    os.makedirs(shots, exist_ok=True)
    work = tempfile.mkdtemp(prefix="pqw-web-browser-")
    rig = Rig(work, bin_dir)
    driver = None
    ok = False
    try:
        rig.start_daemon()
        rig.start_web()
        url = "http://%s:%d/" % (rig.host, rig.web_port)

        opts = webdriver.ChromeOptions()
        opts.binary_location = CHROMIUM
        for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage",
                  "--user-data-dir=" + os.path.join(work, "chromium")]:
            opts.add_argument(a)
        opts.add_experimental_option("mobileEmulation", {
            "deviceMetrics": {"width": W, "height": H, "pixelRatio": 3.0, "touch": True}})
        driver = webdriver.Chrome(service=Service(DRIVER, log_path=os.path.join(work, "driver.log")),
                                  options=opts)
        el = lambda id_: driver.find_element(By.ID, id_)
        text = lambda id_: el(id_).text.strip()
        shown = lambda id_: el(id_).is_displayed()
        count = [0]

        def shot(name):
            count[0] += 1
            driver.save_screenshot(os.path.join(shots, "%02d-%s.png" % (count[0], name)))

        def in_reach(id_):
            """Displayed, wholly inside the 360 x 740 viewport, and the thing
            at its centre is itself (nothing covers it)."""
            return driver.execute_script(
                "const e = document.getElementById(arguments[0]);"
                "const r = e.getBoundingClientRect();"
                "if (!e.offsetParent && getComputedStyle(e).position !== 'fixed') return false;"
                "if (r.width === 0 || r.top < 0 || r.left < 0 || r.bottom > innerHeight ||"
                "    r.right > innerWidth) return false;"
                "const at = document.elementFromPoint(r.left + r.width / 2, r.top + r.height / 2);"
                "return at === e || e.contains(at);", id_)

        def press(e):
            driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", e)
            e.click()

        tap = lambda id_: press(el(id_))

        def fetch(path, body):
            return driver.execute_async_script(
                "const done = arguments[2];"
                "fetch(arguments[0], {method: 'POST', headers: {'Content-Type': 'application/json'},"
                " body: arguments[1]}).then(r => done(r.status)).catch(e => done(String(e)));",
                path, body)

        def no_sent_claim():
            m = el("msg")
            return not (m.is_displayed() and m.text.strip().endswith(" sent"))

        # 1. Live, no PIN: no PIN prompt anywhere, Record in reach.
        driver.get(url)
        driver.execute_script("window.pqwLoaded = 1")  # gone if the page reloads
        wait_for('"connected"', lambda: text("status") == "connected", 20)
        wait_for("the ISO", lambda: text("v-iso") == "100", 10)
        for hidden in ("login", "pin", "pin-go", "pin-msg", "wb-k-box", "msg"):
            assert not shown(hidden), hidden + " is displayed"
        assert not shown("age"), "a live page says its values are old"
        assert in_reach("rec") and in_reach("shoot") and in_reach("m-video"), "the bar is out of reach"
        width = driver.execute_script("return [document.documentElement.clientWidth,"
                                      " document.documentElement.scrollWidth]")
        assert width[0] == W and width[1] <= W, "laid out %r wide, not for a phone" % width
        weight = driver.execute_script(
            "return performance.getEntriesByType('resource').concat("
            "performance.getEntriesByType('navigation'))"
            ".filter(e => !e.name.includes('/api/')).reduce((n, e) => n + e.transferSize, 0)")
        assert weight < 150000, "the page weighs %d bytes" % weight
        small = driver.execute_script(
            "return [...document.querySelectorAll('button, select, input:not([type=checkbox]), summary, label.check')]"
            ".filter(e => e.offsetParent && e.getBoundingClientRect().height < 47.5)"
            ".map(e => e.id || e.textContent.trim().slice(0, 20))")
        assert not small, "touch targets under 48 px: %r" % small
        # The pickers follow the camera and speak as the tiles do.
        assert el("m-video").get_attribute("aria-pressed") == "true" or \
            el("m-photo").get_attribute("aria-pressed") == "true", "no camera mode shown"
        shutter = driver.execute_script("const s = document.getElementById('p-shutter');"
                                        "return s.selectedOptions[0].textContent")
        assert shutter == text("v-shutter"), "picker %r, tile %r" % (shutter, text("v-shutter"))
        shot("live")
        driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {
            "features": [{"name": "prefers-color-scheme", "value": "dark"}]})
        assert driver.execute_script("return matchMedia('(prefers-color-scheme: dark)').matches")
        assert driver.execute_script(
            "return getComputedStyle(document.body).backgroundColor") == "rgb(0, 0, 0)"
        shot("live-dark")
        driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})

        # 2. Scrolled to the bottom: the bar stays in reach.
        driver.execute_script("window.scrollTo(0, document.body.scrollHeight)")
        time.sleep(0.2)
        assert in_reach("rec") and in_reach("shoot"), "Record out of reach at the bottom"
        shot("bottom")
        driver.execute_script("window.scrollTo(0, 0)")

        # 3. Only the vocabulary: the picker offers no aperture the lens does not
        # take, and pqw-web refuses one sent by hand. A long command passes.
        apertures = driver.execute_script(
            "return [...document.getElementById('p-aperture').options].map(o => o.value)")
        assert "99" not in apertures and "2.8" in apertures, apertures
        assert fetch("/api/command", '{"cmd":"aperture","param":"99"}') == 400
        assert fetch("/api/command", json.dumps({"cmd": "x", "value1": "a" * 980})) == 202

        # 4. Exposure program: shown once set.
        driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", el("p-exposure"))
        driver.execute_script("const s = document.getElementById('p-exposure');"
                              "s.value = 'manual'; s.dispatchEvent(new Event('change'))")
        wait_for("the exposure tile", lambda: text("v-exposure") == "manual", 5)
        assert el("p-exposure").get_attribute("value") == "manual"
        assert in_reach("msg"), "the result is not on screen"

        # 5. Gimbal: hold up, the tilt reading grows; let go, it stops.
        tilt = lambda: float(text("v-gimbal").split("/")[1])
        before = wait_for("the gimbal reading", lambda: text("v-gimbal") != "-" and tilt() + 1000, 10) - 1000
        up = driver.find_element(By.CSS_SELECTOR, '[data-move="0,1"]')
        driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", up)
        ActionChains(driver).click_and_hold(up).perform()
        wait_for("the tilt to grow", lambda: tilt() > before + 2, 8)
        shot("gimbal-held")
        ActionChains(driver).release(up).perform()
        time.sleep(0.8)
        stopped = tilt()
        time.sleep(1.0)
        assert abs(tilt() - stopped) < 0.5, "the gimbal goes on after release (%s -> %s)" % (stopped, tilt())
        tap("recentre")

        # 6. Record, in reach; the page follows.
        driver.execute_script("window.scrollTo(0, 0)")
        el("rec").click()
        camsim_log = os.path.join(rig.sim, "camsim.log")
        wait_for("the simulator to record",
                 lambda: '"effect":"record start"' in open(camsim_log).read(), 10)
        wait_for("the page to show recording", lambda: text("rec-state").startswith("REC"), 10)
        assert text("rec") == "Stop"
        shot("recording")
        el("rec").click()
        wait_for("the recording to stop", lambda: text("rec") == "Record", 10)
        # The block is readable here (same user): the newest-file tile shows.
        assert shown("t-file"), "the newest-file tile is hidden"

        # 7. Settings wait for Apply; the Wi-Fi asks first and names the cost.
        conf = os.path.join(rig.sim, "root", "boot", "pelquarinthos-wired.conf")
        wait_for("the settings form", lambda: text("settings-state").startswith("Daemon"), 15)
        box = el("s-osd_en")
        driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", box)
        want = "0" if box.is_selected() else "1"
        box.click()
        time.sleep(1.0)
        assert ("\r\nosd_enabled=%s\r\n" % want) not in open(conf, newline="").read(), \
            "a setting was applied without Apply"
        fs = box.find_element(By.XPATH, "ancestor::fieldset")
        press(fs.find_element(By.CLASS_NAME, "apply"))
        wait_for("osd_enabled=" + want + " in the file",
                 lambda: ("\r\nosd_enabled=%s\r\n" % want) in open(conf, newline="").read(), 10)
        band = el("s-ap_mode")
        driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", band)
        assert driver.execute_script("return arguments[0].selectedOptions[0].textContent", band).strip(), \
            "the band picker is blank"
        assert el("s-ap_psk").get_attribute("value") == "" and \
            el("s-ap_psk").get_attribute("placeholder") == "unchanged"
        driver.execute_script("arguments[0].value = '5'; arguments[0].dispatchEvent(new Event('change'))", band)
        press(band.find_element(By.XPATH, "ancestor::fieldset").find_element(By.CLASS_NAME, "apply"))
        wait_for("the Wi-Fi confirmation", lambda: shown("confirm"), 3)
        assert "Wi-Fi restarts" in text("confirm-text"), text("confirm-text")
        shot("wifi-confirm")
        driver.find_element(By.CSS_SELECTOR, '#confirm button[value="no"]').click()
        time.sleep(0.5)
        assert not os.path.exists(os.path.join(rig.sim, "root", "run", "wlan.update")), \
            "the Wi-Fi was rewritten after Cancel"
        shot("settings")

        def api_connected():
            # With a PIN the API wants the session: ask through the page.
            return driver.execute_async_script(
                "const done = arguments[0];"
                "fetch('/api/status').then(r => r.json()).then(j => done(j.link && j.link.connected))"
                ".catch(() => done(false));")

        # 8. The daemon stops: values marked stale, a tap refused, not "sent".
        driver.execute_script("window.scrollTo(0, 0)")
        rig.stop(rig.daemon)
        wait_for('"daemon not reachable"', lambda: text("status") == "daemon not reachable", 10)
        wait_for("the values marked stale", lambda: shown("age") and "last seen" in text("age"), 3)
        assert "stale" in el("live").get_attribute("class")
        assert float(driver.execute_script(
            "return getComputedStyle(document.getElementById('v-iso')).opacity")) < 0.6
        el("rec").click()
        wait_for("the refusal", lambda: shown("msg") and "not sent" in text("msg"), 2)
        assert in_reach("msg"), "the refusal is off screen"
        assert no_sent_claim()
        shot("daemon-down")
        # A page opened now shows nothing as current either.
        first = driver.current_window_handle
        driver.switch_to.new_window("tab")
        driver.get(url)
        wait_for("the new page's status", lambda: text("status") == "daemon not reachable", 10)
        wait_for("the new page's age mark", lambda: shown("age") and "last seen" in text("age"), 3)
        assert "stale" in el("live").get_attribute("class")
        shot("opened-while-down")
        driver.close()
        driver.switch_to.window(first)

        # 9. The daemon comes back: the page follows within 5 s, no reload.
        rig.start_daemon()
        wait_for("the daemon's link", lambda: rig.api("/api/status")["link"]["connected"], 30)
        t = time.monotonic()
        wait_for("the page to see the daemon back", lambda: text("status") == "connected", 5)
        print("page live again %.1f s after the daemon" % (time.monotonic() - t))
        assert not shown("age")
        assert driver.execute_script("return window.pqwLoaded") == 1, "the page reloaded"

        # 10. pqw-web restarts (no PIN): back within 5 s.
        rig.stop(rig.web)
        wait_for("console not reachable", lambda: text("status") == "console not reachable", 5)
        shot("console-down")
        t = time.monotonic()
        rig.start_web()
        wait_for("the page back after pqw-web restarted", lambda: text("status") == "connected", 5)
        print("page live again %.1f s after pqw-web restarted" % (time.monotonic() - t))
        assert driver.execute_script("return window.pqwLoaded") == 1, "the page reloaded"

        # 11. pqw-web restarts with a PIN: the PIN screen at once.
        rig.stop(rig.web)
        rig.start_web(PIN)
        wait_for("the PIN screen", lambda: shown("pin"), 5)
        assert not shown("app") and not shown("bar")
        assert driver.switch_to.active_element == el("pin"), "the PIN field has no focus"
        time.sleep(1.1)  # a second's repaint must not put the old status back
        assert text("status") == "PIN needed" and not shown("age"), text("status")
        shot("pin")
        # The first wait after a wrong PIN is half a second: a slow browser
        # may paint the countdown and take it away between two looks, so a
        # watcher on the message remembers that it was shown.
        driver.execute_script(
            "window.pqwSawCountdown = false;"
            "const m = document.getElementById('pin-msg');"
            "new MutationObserver(() => { if (m.textContent.includes('try again in'))"
            " window.pqwSawCountdown = true; }).observe(m, {childList: true, characterData: true,"
            " subtree: true});")
        el("pin").send_keys("999999")
        el("pin-go").click()
        wait_for("the wrong-PIN error", lambda: shown("pin-msg") and
                 driver.execute_script("return window.pqwSawCountdown"), 3)
        assert "bad" in el("pin-msg").get_attribute("class")
        assert el("pin").get_attribute("value") == "", "the wrong PIN stays in the field"
        assert driver.switch_to.active_element == el("pin")
        shot("pin-wrong")
        wait_for("the wait to end", lambda: "try again" not in text("pin-msg"), 5)
        el("pin").send_keys(PIN)
        el("pin-go").click()
        wait_for("live after the PIN", lambda: text("status") == "connected", 5)
        assert not shown("login") and not shown("pin-msg")
        assert in_reach("rec")

        # 12. The session ends under a live page: the tap says it was not sent.
        driver.delete_all_cookies()
        el("rec").click()
        wait_for("the PIN screen after the tap", lambda: shown("pin"), 3)
        assert "not sent" in text("login-why"), text("login-why")
        shot("session-gone")
        el("pin").send_keys(PIN)
        el("pin-go").click()
        wait_for("live again", lambda: text("status") == "connected", 5)
        assert driver.execute_script("return window.pqwLoaded") == 1, "the page reloaded"

        # 13. With a PIN, the daemon restarts: back within 5 s, no PIN asked.
        rig.stop(rig.daemon)
        wait_for('"daemon not reachable"', lambda: text("status") == "daemon not reachable", 10)
        rig.start_daemon()
        wait_for("the daemon's link", lambda: api_connected(), 30)
        wait_for("the page to see the daemon back", lambda: text("status") == "connected", 5)
        assert not shown("login")

        # 14. Restart with the PIN again: sessions are gone, PIN screen at once.
        rig.stop(rig.web)
        rig.start_web(PIN)
        wait_for("the PIN screen after a restart", lambda: shown("pin"), 5)
        el("pin").send_keys(PIN)
        el("pin-go").click()
        wait_for("live after the restart", lambda: text("status") == "connected", 5)
        ok = True
        print("web_browser_test: passed; screenshots in " + shots)
    finally:
        if not ok and driver:
            try:
                shot("failed")
            except Exception:
                pass
        if driver:
            driver.quit()
        rig.stop(rig.web)
        rig.stop(rig.daemon)
        for shm in ("hud_mem", "config_mem"):
            try:
                os.unlink("/dev/shm/%s%s" % (rig.prefix, shm))
            except OSError:
                pass
        if ok or os.environ.get("PQW_E2E_KEEP") != "1":
            shutil.rmtree(work, ignore_errors=True)
        else:
            print("kept " + work)
    return 0


if __name__ == "__main__":
    sys.exit(main())
