#!/usr/bin/python3
"""The plant page in headless Chromium, over tarvo-gateway and pxrsim.

One scenario, a step after another, each ending in a screenshot under OUT:
every item of the built-in plant shows its value; a moving value changes
without a reload; a write without the token is refused (the endpoint
listens on every address); with the token, an output switched from the
page is written and pxrsim takes it; a module that falls silent (its
pxrsim stopped) shows its items failed; the page reads on a phone's width.

Usage: plant_page_test.py GATEWAY PXRSIM BUILTIN_PLANT OUT
Exits 77 (skipped) when Chromium is not installed.
"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
SKIPPED = 77

# The annex line's module answers on a pxrsim of its own, stopped (SIGSTOP)
# to make it silent.
ANNEX_PLANT = {"modules": [{"family": "pxr5700", "address": 6, "inputs": 1, "outputs": 0}]}
ANNEX_ITEMS = [{"class": "pxr5700", "items": [{"item": "DI6.0", "name": "annex door"}]}]
TOKEN = "s3cret-token-of-the-test"


class Failure(Exception):
    pass


def wait_for(what, check, seconds):
    """check() until it returns something true; Failure naming `what` after `seconds`."""
    deadline = time.monotonic() + seconds
    while True:
        result = check()
        if result:
            return result
        if time.monotonic() > deadline:
            raise Failure(f"{what}: not within {seconds} s")
        time.sleep(0.1)


class Scenario:
    def __init__(self, gateway, pxrsim, builtin_plant, out):
        self.gateway_path, self.pxrsim_path = gateway, pxrsim
        self.builtin_plant, self.out = builtin_plant, out
        self.dir = tempfile.mkdtemp(prefix="tarvo-page-")
        self.processes = []
        self.driver = None
        self.step = 0

    # ---- Programs

    def start(self, name, argv):
        log = open(os.path.join(self.out, name + ".log"), "w+")
        process = subprocess.Popen(argv, stdout=log, stderr=subprocess.STDOUT)
        self.processes.append(process)
        return process, log

    def log_text(self, log):
        log.flush()
        with open(log.name) as f:
            return f.read()

    def start_pxrsim(self, name, plant=None):
        """pxrsim on a link in the temporary folder, logging each exchange: the
        built-in plant, or `plant`."""
        link = os.path.join(self.dir, name)
        argv = [self.pxrsim_path, "-v", "--link", link]
        if plant:
            path = os.path.join(self.dir, name + ".json")
            with open(path, "w") as f:
                json.dump(plant, f)
            argv += ["--plant", path]
        process, log = self.start("pxrsim-" + name, argv)
        wait_for(f"pxrsim {name} serving", lambda: "pxrsim: serving on" in self.log_text(log), 10)
        return link, process, log

    def start_gateway(self, sim_link, annex_link):
        with open(self.builtin_plant) as f:
            classes = json.load(f)["classes"]
        token_file = os.path.join(self.dir, "token")
        with open(token_file, "w") as f:
            f.write(TOKEN + "\n")
        os.chmod(token_file, 0o600)
        plant = {
            "http": {"writes": True, "token_file": token_file},
            "lines": [
                {"line": "plant", "port": sim_link, "interval": 0.2, "classes": classes},
                {"line": "annex", "port": annex_link, "interval": 0.2, "classes": ANNEX_ITEMS},
            ],
        }
        path = os.path.join(self.dir, "page.json")
        with open(path, "w") as f:
            json.dump(plant, f)
        _, log = self.start("gateway", [self.gateway_path, path, "--http", "0.0.0.0:0"])
        found = wait_for("the gateway's HTTP port",
                         lambda: re.search(r"on http://0\.0\.0\.0:(\d+)/", self.log_text(log)), 10)
        self.gateway_log = log
        return int(found.group(1))

    # ---- The browser

    def open_browser(self):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ("--headless=new", "--no-sandbox", "--window-size=1200,1500",
                         "--disable-gpu", "--disable-dev-shm-usage"):
            options.add_argument(argument)
        self.driver = webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER),
                                       options=options)

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def row(self, item_id):
        """The texts of an item's row on the page, or None while it is not there."""
        return self.js("""
            const row = [...document.querySelectorAll('.item')].find(r => r.dataset.id === arguments[0]);
            if (!row) return null;
            const text = (c) => row.querySelector(c).textContent;
            const button = row.querySelector('.switch');
            return {value: text('.value'), state: text('.state'), age: text('.age'),
                    outcome: row.querySelector('.outcome') ? text('.outcome') : null,
                    switch: button ? button.getAttribute('aria-checked') : null,
                    failed: row.classList.contains('failed'),
                    stale: row.classList.contains('stale'),
                    marked: row.querySelector('.value').classList.contains('changed')};""", item_id)

    def screenshot(self, name):
        self.step += 1
        path = os.path.join(self.out, f"{self.step}-{name}.png")
        self.driver.save_screenshot(path)
        print(f"step {self.step}: {name} ({path})", flush=True)

    def switch(self, item_id, expected_outcome, seconds):
        """Clicks the item's switch and confirms in the page's dialog."""
        self.js("""[...document.querySelectorAll('.item')].find(r => r.dataset.id === arguments[0])
                   .querySelector('.switch').click();""", item_id)
        wait_for("the confirmation dialog", lambda: self.js(
            "return document.getElementById('confirm').open"), 5)
        self.js("document.getElementById('confirm-ok').click()")
        return wait_for(f"{item_id}: {expected_outcome}", lambda: (
            lambda r: r if r and r["outcome"] and r["outcome"].startswith(expected_outcome) else None)(
                self.row(item_id)), seconds)

    # ---- The scenario

    def run(self):
        sim_link, _, sim_log = self.start_pxrsim("sim")
        annex_link, annex, _ = self.start_pxrsim("annex", ANNEX_PLANT)
        port = self.start_gateway(sim_link, annex_link)
        # The page's files: their types, asked for again each time, and a
        # policy that lets the page load nothing from elsewhere.
        for path, kind in (("/", "text/html"), ("/page.js", "text/javascript"),
                           ("/page.css", "text/css")):
            with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}") as answer:
                headers = dict(answer.headers)
            expected = {"Content-Type": f"{kind}; charset=utf-8", "Cache-Control": "no-cache",
                        "X-Content-Type-Options": "nosniff"}
            if any(headers.get(name) != value for name, value in expected.items()) or \
                    not headers.get("Content-Security-Policy", "").startswith("default-src 'self';"):
                raise Failure(f"{path} is served with {headers}")
        self.open_browser()
        self.driver.get(f"http://127.0.0.1:{port}/")
        self.js("window.loadedOnce = true")

        # Every item of the built-in plant shows its value, and its state is fresh.
        with open(self.builtin_plant) as f:
            ids = ["plant/" + item["item"] for group in json.load(f)["classes"]
                   for item in group["items"]]

        def all_read():
            rows = {i: self.row(i) for i in ids}
            missing = [i for i, r in rows.items()
                       if not r or r["value"] in ("", "—") or r["state"] != "fresh"]
            return rows if not missing else None
        wait_for("every item of the built-in plant with its value", all_read, 40)
        self.screenshot("every-item-read")

        # TA1.0.0 moves: its text changes on the page without a reload.
        first = self.row("plant/TA1.0.0")["value"]
        changed = wait_for("TA1.0.0 changing", lambda: (
            lambda r: r if r["value"] != first else None)(self.row("plant/TA1.0.0")), 20)
        if not changed["marked"]:
            raise Failure("the changed value is not marked")
        if not self.js("return window.loadedOnce === true"):
            raise Failure("the page was loaded again")
        self.screenshot("value-changed")

        # No token: the write is refused (the endpoint listens beyond loopback).
        before = self.row("plant/DO4.2")
        if before["switch"] != "true":
            raise Failure(f"DO4.2 should start on: {before}")
        refused = self.switch("plant/DO4.2", "refused", 10)
        if not refused["outcome"].startswith("refused: a write needs this gateway's token"):
            raise Failure(f"the refusal does not ask for the token: {refused['outcome']!r}")
        if refused["switch"] != "true":
            raise Failure("the switch moved on a refused write")
        self.screenshot("write-refused-without-token")

        # With the token: written, and pxrsim takes the output byte 0 ("/04" 00 CR).
        self.js("""const t = document.getElementById('token');
                   t.value = arguments[0]; t.dispatchEvent(new Event('input'));""", TOKEN)
        self.switch("plant/DO4.2", "written", 30)
        wait_for("pxrsim receiving the write of DO4.2",
                 lambda: re.search(r"2f 30 34 00 0d", self.log_text(sim_log), re.IGNORECASE), 5)
        wait_for("DO4.2 read back off",
                 lambda: self.row("plant/DO4.2")["switch"] == "false" and
                 self.row("plant/DO4.2")["value"].startswith("0"), 20)
        self.screenshot("output-written")

        # The annex module falls silent: its item fails with the driver's code
        # and text within a few seconds.
        wait_for("DI6.0 read", lambda: self.row("annex/DI6.0")["state"] == "fresh", 10)
        annex.send_signal(signal.SIGSTOP)
        stopped = time.monotonic()
        try:
            failed = wait_for("DI6.0 failing", lambda: (
                lambda r: r if r["failed"] else None)(self.row("annex/DI6.0")), 10)
        finally:
            annex.send_signal(signal.SIGCONT)
        print(f"DI6.0 failed {time.monotonic() - stopped:.1f} s after its module fell silent")
        if not re.match(r"failed: code 17 · .+ · \S", failed["state"]):
            raise Failure(f"DI6.0's failure shows no code and text: {failed['state']!r}")
        if not failed["stale"]:
            raise Failure("DI6.0's last value does not fade")
        summary = self.js("""return document.querySelector('[data-id="annex/DI6.0"]')
                             .closest('details').querySelector('summary').textContent""")
        if "1 failing" not in summary:
            raise Failure(f"the annex module's summary counts no failing item: {summary!r}")
        self.js("document.querySelector('[data-id=\"annex/DI6.0\"]').scrollIntoView()")
        self.screenshot("module-silent")

        # A phone's width: one column, nothing wider than the screen.
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": 360, "height": 780, "deviceScaleFactor": 1, "mobile": True})
        self.js("window.scrollTo(0, 0)")
        width = self.js("return document.documentElement.scrollWidth")
        if width > 360:
            raise Failure(f"the page is {width} px wide on a 360 px screen")
        self.screenshot("phone")

        # No script error and nothing the policy refused, all along (the
        # browser's own request for a favicon and the write refused aside).
        expected = ("/favicon.ico - Failed", "/api/write - Failed to load resource: the server "
                    "responded with a status of 401")
        errors = [entry["message"] for entry in self.driver.get_log("browser")
                  if entry["level"] == "SEVERE" and not any(e in entry["message"] for e in expected)]
        if errors:
            raise Failure(f"the browser's console has errors: {errors}")

    def close(self):
        if self.driver:
            self.driver.quit()
        for process in self.processes:
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


def main():
    if len(sys.argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    if not os.path.exists(CHROMIUM):
        print(f"skipped: {CHROMIUM} is not installed (make deps installs it)")
        return SKIPPED
    out = sys.argv[4]
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    scenario = Scenario(*sys.argv[1:4], out)
    started = time.monotonic()
    try:
        scenario.run()
    except Failure as failure:
        if scenario.driver:
            scenario.screenshot("failed")
        print(f"FAILED: {failure}", file=sys.stderr)
        print(scenario.log_text(scenario.gateway_log) if hasattr(scenario, "gateway_log") else "",
              file=sys.stderr)
        return 1
    finally:
        scenario.close()
    print(f"passed in {time.monotonic() - started:.1f} s; screenshots in {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
