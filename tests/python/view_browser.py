"""kestro view in a real browser: headless Chromium from Debian, driven by Selenium through
chromedriver, opens the page, drags a lane's edge, deletes a band and saves; the files saved are
the ones the recorded kestro lanes command line writes. Screenshots of real gels and the timings
of a 4096 x 4096 16-bit gel are left in KESTRO_VIEW_SHOTS for a person to look at.

Skips cleanly without kestro, chromium, chromedriver or Selenium (scripts/setup.sh installs them).
"""
import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import time
from pathlib import Path

import pytest

TOOL = os.environ.get("KESTRO_TOOL", "")
SHARED = Path(os.environ.get("KESTRO_SHARED_DIR", "/nonexistent")) / "gels"
CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"
DRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
except ImportError:  # pragma: no cover - the skip below says why
    webdriver = None

pytestmark = pytest.mark.skipif(
    not TOOL or not os.path.exists(TOOL) or webdriver is None or not os.path.exists(CHROMIUM)
    or not os.path.exists(DRIVER),
    reason="needs the built kestro, chromium, chromedriver and python3-selenium (scripts/setup.sh)")


def shots_dir(tmp_path):
    d = Path(os.environ.get("KESTRO_VIEW_SHOTS", tmp_path / "shots"))
    d.mkdir(parents=True, exist_ok=True)
    return d


class Served:
    """`kestro view ARGS` in cwd until Ctrl-C, which must end it with exit code 0."""

    def __init__(self, args, cwd):
        self.proc = subprocess.Popen([TOOL, "view", *args], cwd=cwd, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        m = re.search(r"http://127\.0\.0\.1:\d+/\?token=[0-9a-f]{32}", line)
        if not m:
            self.proc.kill()
            raise AssertionError("kestro view did not start: " + line + self.proc.stderr.read())
        self.url = m.group(0)

    def stop(self):
        self.proc.send_signal(signal.SIGINT)
        return self.proc.wait(timeout=60)


@pytest.fixture
def browser(tmp_path):
    options = webdriver.ChromeOptions()
    for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--hide-scrollbars", "--no-first-run",
              "--window-size=1500,950", "--user-data-dir=" + str(tmp_path / "profile")]:
        options.add_argument(a)
    options.binary_location = CHROMIUM
    driver = webdriver.Chrome(service=Service(DRIVER), options=options)
    yield driver
    driver.quit()


def settle(driver, timeout=240):
    """Waits until the page shows the gel and its analysis and no request is out."""
    end = time.time() + timeout
    while time.time() < end:
        if driver.execute_script(
                "return document.body.dataset.state === 'ready' && !!window.kestroTimes"
                " && !!window.kestroTimes.firstView && !!state.analysis"):
            return
        time.sleep(0.05)
    raise AssertionError("the page did not settle: " + driver.find_element(By.ID, "status").text)


def lanes(driver):
    return driver.execute_script("return state.analysis.lanes")


def drag_edge(driver, lane, edge, dx):
    handle = driver.find_element(By.CSS_SELECTOR, f'polyline.handle[data-lane="{lane}"][data-edge="{edge}"]')
    t0 = driver.execute_script("return window.kestroTimes.lastEdit")
    ActionChains(driver).click_and_hold(handle).move_by_offset(dx // 2, 0).move_by_offset(dx - dx // 2, 0) \
        .release().perform()
    end = time.time() + 240
    while driver.execute_script("return window.kestroTimes.lastEdit") == t0 or \
            driver.execute_script("return document.body.dataset.state") != "ready":
        assert time.time() < end, "the moved lane was not analysed"
        time.sleep(0.02)


def line_has(out, option, value):
    line = json.loads((out / "gel.lanes.json").read_text())["run"]["commandLine"]
    return option in line and line[line.index(option) + 1] == value


def untimed(text):
    return re.sub(r'\n *"milliseconds": [0-9.e+-]+', "", text)


def test_drag_delete_save_as_lanes_writes(tmp_path, browser):
    subprocess.run([TOOL, "synth", "gel.tif", "--lanes", "5", "--bands", "4", "--width", "600", "--height", "400",
                    "--seed", "5"], cwd=tmp_path, check=True, capture_output=True)
    served = Served(["gel.tif", "-o", "out"], tmp_path)
    try:
        browser.get(served.url)
        settle(browser)
        before = lanes(browser)
        assert len(before) == 5
        drag_edge(browser, 1, "right", 40)
        after = lanes(browser)
        widened = (after[1]["right"] - after[1]["left"]) - (before[1]["right"] - before[1]["left"])
        assert widened > 5, widened
        assert after[0]["left"] == before[0]["left"]

        # Lane 1's second band: chosen on the gel, deleted with the button.
        count = len(after[0]["bands"])
        band = browser.find_element(By.CSS_SELECTOR, 'rect.band[data-lane="0"][data-band="1"]')
        # A quarter of the way in from its left: clear of the lane's centre handle.
        ActionChains(browser).move_to_element_with_offset(band, -band.size["width"] // 4, 0).click().perform()
        assert browser.execute_script("return state.band") == 1
        browser.find_element(By.ID, "delete-band").click()
        end = time.time() + 120
        while len(lanes(browser)[0]["bands"]) != count - 1:
            assert time.time() < end, "the band was not deleted"
            time.sleep(0.05)
        settle(browser)

        # The deleted band drawn again by hand: a drag across its rows in the profile.
        gone = after[0]["bands"][1]
        profile = browser.find_element(By.ID, "profile")
        p = lanes(browser)[0]["profile"]
        x = [(row - p["top"]) / len(p["values"]) * profile.size["width"] - profile.size["width"] / 2
             for row in (gone["top"], gone["bottom"] + 1)]
        ActionChains(browser).move_to_element_with_offset(profile, round(x[0]), 0).click_and_hold() \
            .move_by_offset(round(x[1] - x[0]), 0).release().perform()
        end = time.time() + 120
        while len(lanes(browser)[0]["bands"]) != count:
            assert time.time() < end, "the band drawn in the profile was not added"
            time.sleep(0.05)
        settle(browser)
        redrawn = lanes(browser)[0]["bands"][1]
        assert abs(redrawn["top"] - gone["top"]) <= 1 and abs(redrawn["bottom"] - gone["bottom"]) <= 1
        shown = sum(len(l["bands"]) for l in lanes(browser))

        # Lane 1 (chosen with its band) made the ladder, its sizes typed in: every band gets a size.
        browser.find_element(By.ID, "is-ladder").click()
        browser.find_element(By.ID, "sizes").send_keys("3000,1000,500,200\t")
        end = time.time() + 120
        while not browser.execute_script("return !!state.analysis.calibrations"):
            assert time.time() < end, browser.find_element(By.ID, "status").text
            time.sleep(0.05)
        settle(browser)

        browser.find_element(By.ID, "save").click()
        end = time.time() + 120
        while browser.execute_script("return document.body.dataset.saved") != "1":
            assert time.time() < end, browser.find_element(By.ID, "status").text
            time.sleep(0.05)
        browser.save_screenshot(str(shots_dir(tmp_path) / "view-synthetic-edited.png"))
    finally:
        assert served.stop() == 0

    out = tmp_path / "out"
    edits = json.loads((out / "gel.edits.json").read_text())
    assert len(edits["lanes"]) == 5 and len(edits["removedBands"]) == 1 and len(edits["addedBands"]) == 1
    assert edits["lanes"][1]["right"] == pytest.approx(after[1]["right"])
    table = (out / "bands.csv").read_text().splitlines()
    assert len(table) - 1 == shown
    assert table[1].split(",")[13] != "", "lane 1's bands are sized"
    assert line_has(out, "--ladder", "1:1")
    saved = {p.name: p.read_bytes() for p in out.iterdir()}
    line = json.loads(saved["gel.lanes.json"])["run"]["commandLine"]
    rerun = subprocess.run(line, cwd=tmp_path, capture_output=True, text=True)
    assert rerun.returncode == 0, shlex.join(line) + rerun.stderr
    for name, data in saved.items():
        now = (out / name).read_bytes()
        if name.endswith(".lanes.json"):
            assert untimed(now.decode()) == untimed(data.decode())
        else:
            assert now == data, name


REAL = [("ladder", "agarose-dna-8bit-lzw-ladders-01.tif", ["--ladder", "1", "--sizes",
         "10000,8000,6000,5000,4000,3000,2000,1500,1200,1000,900,800,700,600,500,400,300,200,100"]),
        ("blot", "western-blot-16bit-minisblack-01.tif", []),
        ("2x20", "agarose-dna-8bit-twotier-2x20lanes-03.tif", [])]


@pytest.mark.parametrize("kind,name,options", REAL, ids=[r[0] for r in REAL])
def test_real_gel_screenshot(tmp_path, browser, kind, name, options):
    if not (SHARED / name).exists():
        pytest.skip(f"{SHARED / name} is absent")
    served = Served([str(SHARED / name), "-o", "out", *options], tmp_path)
    try:
        browser.get(served.url)
        settle(browser)
        assert len(lanes(browser)) >= 3
        browser.find_element(By.CSS_SELECTOR, '#lane-table tbody tr').click()
        settle(browser)
        browser.save_screenshot(str(shots_dir(tmp_path) / f"view-{kind}.png"))
    finally:
        assert served.stop() == 0


def test_large_gel_first_view_and_drag(tmp_path, browser):
    subprocess.run([TOOL, "synth", "big.tif", "--width", "4096", "--height", "4096", "--depth", "16", "--lanes", "16",
                    "--bands", "8"], cwd=tmp_path, check=True, capture_output=True)
    served = Served(["big.tif", "-o", "out"], tmp_path)
    try:
        browser.get(served.url)
        settle(browser)
        first = browser.execute_script("return window.kestroTimes.firstView")
        drag_edge(browser, 3, "centre", 12)
        drag = browser.execute_script("return window.kestroTimes.lastEdit")
        browser.save_screenshot(str(shots_dir(tmp_path) / "view-4096.png"))
    finally:
        assert served.stop() == 0
    (shots_dir(tmp_path) / "view-4096-timings.json").write_text(
        json.dumps({"firstViewMilliseconds": first, "laneDragMilliseconds": drag}))
    print(f"4096 x 4096 16-bit: first view {first:.0f} ms, lane drag shown in {drag:.0f} ms")
