"""The page of ``tessel show`` in a real browser: headless Chromium, driven by Playwright.

The tests skip, saying why, where Playwright (the ``test`` extra) or Chromium (Debian's
``chromium``; another one through ``TESSEL_CHROMIUM``) is missing, and under the sanitizer
runtimes, which are for the extension modules.
"""

from __future__ import annotations

import base64
import os
import re
import shutil
from pathlib import Path

import pytest

from tessel.cli import main
from tessel.core.spiceread import parse_oc_spice

from test_show import EXAMPLES, MISTAKES

PAGES = ("mzi.sp", "nested.sp", "mistakes.sp")


@pytest.fixture(scope="module")
def browser():
    sync_api = pytest.importorskip("playwright.sync_api", reason="Playwright is not installed "
                                   "(pip install '.[test]')")
    if "asan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("the browser is not run with the sanitizer runtimes preloaded")
    path = os.environ.get("TESSEL_CHROMIUM") or shutil.which("chromium") or "/usr/bin/chromium"
    if not Path(path).is_file():
        pytest.skip("no Chromium to run the page in (apt-get install chromium, or set TESSEL_CHROMIUM)")
    with sync_api.sync_playwright() as playwright:
        chromium = playwright.chromium.launch(executable_path=path)
        yield chromium
        chromium.close()


@pytest.fixture(autouse=True)
def generic_project(monkeypatch, tmp_path):
    monkeypatch.setenv("TESSEL_PROJECT_DIR", str(tmp_path))
    monkeypatch.chdir(tmp_path)
    (tmp_path / "mistakes.sp").write_text(MISTAKES)


class Page:
    """A page of `tessel show` open in the browser, with the errors it logged."""

    def __init__(self, browser, netlist: str) -> None:
        source = Path(netlist) if Path(netlist).exists() else EXAMPLES / netlist
        assert main(["show", str(source), "-o", "page.html", "-q"]) == 0
        self.netlists = parse_oc_spice(source)
        self.page = browser.new_page(viewport={"width": 1200, "height": 700})
        self.errors: list[str] = []
        self.page.on("console", lambda m: m.type == "error" and self.errors.append(m.text))
        self.page.on("pageerror", lambda e: self.errors.append(str(e)))
        self.page.goto(Path("page.html").resolve().as_uri())
        self.page.wait_for_selector("body[data-ready]", state="attached")

    def instance(self, name: str):
        return self.page.locator("svg.current g.inst", has=self.page.locator(f"text='{name}'"))

    def rest(self) -> None:
        """Wait until the view has rested and been laid out."""
        self.page.wait_for_timeout(400)

    def sheets(self):
        """Show each sheet in turn; yield its name."""
        for k, name in enumerate(self.netlists):
            self.page.locator("#sheets li").nth(k).click()
            yield name


def test_pages_open_without_errors(browser):
    for netlist in PAGES:
        page = Page(browser, netlist)
        for _ in page.sheets():
            page.page.mouse.move(600, 350)
        assert page.errors == [], netlist


def test_each_instance_is_drawn_once_at_its_placement(browser):
    for netlist in PAGES:
        page = Page(browser, netlist)
        for name in page.sheets():
            drawn = page.page.eval_on_selector_all(
                "svg.current g.inst", "gs => gs.map(g => [g.querySelector('.detail text').textContent, "
                "g.getAttribute('transform'), g.classList.contains('auto')])")
            instances = page.netlists[name]["instances"]
            assert sorted(n for n, _, _ in drawn) == sorted(instances), (netlist, name)
            placements = page.netlists[name]["placements"]
            for inst, transform, auto in drawn:
                assert auto == (inst not in placements)
                placement = placements.get(inst, {})
                if placement and "port" not in placement:
                    x, y = map(float, re.fullmatch(r"translate\((\S+),(\S+)\)", transform).groups())
                    assert (x, -y) == pytest.approx((placement["x"], placement["y"])), (netlist, inst)


def test_hover_tells_an_instance_and_a_click_selects_it_with_its_nets(browser):
    page = Page(browser, "mistakes.sp")
    page.instance("Xtop").hover()
    tip = page.page.inner_text("#tip")
    assert "Xtop straight" in tip and "length=10" in tip and "mistakes.sp:4" in tip
    page.instance("Xtop").click()
    selected = page.page.eval_on_selector_all("svg.current .sel", "es => es.map(e => e.dataset.i ?? 'n' + e.dataset.n)")
    nets = page.page.eval_on_selector_all("svg.current .sel.wire", "es => es.length")
    assert len(selected) == 3 and nets == 2
    assert "top_a" in page.page.inner_text("#details") and "top_b" in page.page.inner_text("#details")
    page.page.mouse.click(1150, 650)  # nothing there
    assert page.page.locator("svg.current .sel").count() == 0


def test_a_finding_selects_and_shows_what_it_is_about(browser):
    page = Page(browser, "mistakes.sp")
    page.page.locator("#findings li", has_text="net 'tap'").click()
    page.rest()
    assert page.instance("Xtap").get_attribute("class").split() == ["inst", "auto", "flag", "sel"]
    box, view = page.instance("Xtap").bounding_box(), page.page.locator("main").bounding_box()
    assert view["x"] < box["x"] < box["x"] + box["width"] < view["x"] + view["width"]


def test_the_wheel_zooms_about_the_pointer_and_a_drag_pans(browser):
    page = Page(browser, "mzi.sp")
    view_box = lambda: list(map(float, page.page.get_attribute("svg.current", "viewBox").split()))  # noqa: E731
    scale = page.page.inner_text("#scalebar")
    before = view_box()
    page.page.mouse.move(700, 350)
    page.page.mouse.wheel(0, -600)
    page.rest()
    zoomed = view_box()
    assert zoomed[2] < before[2] / 2 and page.page.inner_text("#scalebar") != scale
    page.page.mouse.move(700, 350)
    page.page.mouse.down()
    page.page.mouse.move(800, 350, steps=4)
    page.page.mouse.up()
    page.rest()
    panned = view_box()
    assert panned[0] < zoomed[0] and panned[1] == pytest.approx(zoomed[1])


def test_a_screenshot_shows_the_drawing(browser):
    page = Page(browser, "mzi.sp")
    shot = base64.b64encode(page.page.locator("main").screenshot()).decode()
    # Pixels that are not white, and how many colours the drawing has, counted by the browser.
    inked, colours = page.page.evaluate("""async (png) => {
        const img = new Image();
        img.src = 'data:image/png;base64,' + png;
        await img.decode();
        const canvas = Object.assign(document.createElement('canvas'), {width: img.width, height: img.height});
        const context = canvas.getContext('2d');
        context.drawImage(img, 0, 0);
        const data = context.getImageData(0, 0, img.width, img.height).data;
        let inked = 0; const colours = new Set();
        for (let k = 0; k < data.length; k += 4) {
            if (data[k] + data[k + 1] + data[k + 2] < 720) inked++;
            colours.add((data[k] << 16) | (data[k + 1] << 8) | data[k + 2]);
        }
        return [inked / (img.width * img.height), colours.size];
    }""", shot)
    assert inked > 0.003 and colours > 20


def test_a_large_sheet_is_an_overview_until_zoomed_in(browser):
    rows = [f"X{k} n{k} n{k + 1} straight $ location=({k % 100 * 30},{k // 100 * -20},0)" for k in range(5000)]
    Path("large.sp").write_text(".subckt chain n0 n5000\n" + "\n".join(rows) + "\n.ends\n")
    page = Page(browser, "large.sp")
    assert page.page.locator("svg.current .inst").count() == 0
    assert page.page.locator("svg.current .overview path").count() > 0
    top_left = page.page.eval_on_selector("svg.current .overview path", "p => p.getBoundingClientRect().toJSON()")
    page.page.mouse.move(top_left["x"] + 2, top_left["y"] + 2)  # on X0, drawn in the overview
    assert page.page.inner_text("#tip").startswith("X0 straight")
    for _ in range(12):
        page.page.mouse.wheel(0, -400)
        page.page.wait_for_timeout(30)
    page.rest()
    shown = page.page.locator("svg.current .inst").count()
    assert page.page.get_attribute("svg.current", "class").split() == ["sheet", "current", "near"]
    assert 0 < shown < 3000
