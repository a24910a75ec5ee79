#!/usr/bin/python3
"""The HTML report of every simulated drive in a real browser.

For each profile of --sim=list: run the tool with --html, parse the page with html5lib in strict
mode (any parse error fails), render it with headless Chromium to a PNG, and check that the
render is not blank and that the browser logged no console message. Test copies of every page,
each in a frame 320, 390, 400, 768 and 1280 pixels wide, must not scroll sideways; each page printed
to PDF must show the verdict badge on page one. A page with a deliberate console error, a blank
page, a malformed one, a page wider than its window and one whose badge is printed on page two
are checked first, to prove the checks can fail.

The wear chart is drawn from seven histories (two years of runs, a fast-wearing drive, a drive
past 100 %, a flat history projected from the erase counts, a single run, a projection more than
ten years off, two runs ten days apart whose range warns): in the laid-out page, at 1280 pixels
and at a phone's 390, no two of its texts may overlap, no text may cross a line, the chart shown
must fit its window, and the projected date must be written inside it. A planted chart with each
fault is checked first.

With --axe AXE_JS it runs only the accessibility check instead: axe-core (the file axe.min.js)
injected into test copies of every page and of the seven charts' pages, at 1280 and 400 pixels,
must find no WCAG 2 A or AA violation; a page with a text of too little contrast is checked first.

Usage: html_render_check.py TOOL [SCREENSHOT]   (SCREENSHOT: also keep the default drive's render)
       html_render_check.py --axe AXE_JS TOOL
       html_render_check.py --charts DIR TOOL   (the wear charts only, each kept as DIR/NAME.png)
Exit status 77 (skipped) when chromium, pdftotext, html5lib, PIL or the axe-core file is missing.
"""
import html
import json
import os
import shutil
import subprocess
import sys
import tempfile
import zlib

SKIP = 77
PAGE = "torvik_usb_pssd_flash_id.html"


def skip(why):
    print(f"SKIPPED: {why}")
    sys.exit(SKIP)


try:
    import html5lib
    from PIL import Image
except ImportError as e:
    skip(f"python module missing ({e.name}): install python3-html5lib and python3-pil")

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
if CHROMIUM is None:
    skip("chromium is not installed (Debian package chromium)")
PDFTOTEXT = shutil.which("pdftotext")
if PDFTOTEXT is None:
    skip("pdftotext is not installed (Debian package poppler-utils)")

WIDTHS = (320, 390, 400, 768, 1280)
CHART_WIDTHS = (1280, 390)
AXE_WIDTHS = (1280, 400)
# Shown after the verdict badge in the printed test copy, to find the badge's page in the PDF.
BADGE_MARK = "BADGEMARKER"

# Runs in the test harness: each frame holds a test copy of a page at its width. The results go
# into the element #result, which the browser's --dump-dom prints.
HARNESS_SCRIPT = """
function describe(e) {
  return e.tagName.toLowerCase() + (e.className ? "." + String(e.className).replace(/ /g, ".") : "");
}
function clipped(e) {
  for (let a = e.parentElement; a && a.tagName !== "BODY"; a = a.parentElement)
    if (getComputedStyle(a).overflowX !== "visible") return true;
  return false;
}
function measure(frame) {
  const doc = frame.contentDocument, root = doc.documentElement, client = root.clientWidth;
  const scroll = Math.max(root.scrollWidth, doc.body.scrollWidth);
  const wide = [];
  if (scroll > client) {
    for (const e of doc.body.querySelectorAll("*")) {
      if (e.getBoundingClientRect().right > client + 0.5 && !clipped(e)) wide.push(describe(e));
      if (wide.length === 3) break;
    }
  }
  return {inner: frame.contentWindow.innerWidth, scroll: scroll, client: client, wide: wide};
}
async function audit(frame) {
  const doc = frame.contentDocument, script = doc.createElement("script");
  script.textContent = AXE_SOURCE;
  doc.head.appendChild(script);
  const result = await frame.contentWindow.axe.run(doc, {
      runOnly: {type: "tag", values: ["wcag2a", "wcag2aa", "wcag21a", "wcag21aa"]}});
  return {violations: result.violations.map(v => ({id: v.id, impact: v.impact, help: v.help,
      nodes: v.nodes.slice(0, 3).map(n => n.target.join(" "))}))};
}
// Every text box and every drawn line of the page's wear chart, in the frame's pixels: the
// drawing's units scaled by the width the browser gave it.
function chart(frame) {
  const doc = frame.contentDocument;
  // The drawing the window shows: the page holds one for a wide window and one for a phone's.
  const svg = [...doc.querySelectorAll("svg.trend")].find(s => s.getBoundingClientRect().width > 0);
  if (!svg) return {missing: true};
  const box = svg.getBoundingClientRect(), view = svg.viewBox.baseVal;
  const scale = box.width / view.width;
  const at = (x, y) => [box.left + (x - view.x) * scale, box.top + (y - view.y) * scale];
  const n = (e, a) => Number(e.getAttribute(a));
  const segments = [];
  for (const l of svg.querySelectorAll("line"))
    segments.push([...at(n(l, "x1"), n(l, "y1")), ...at(n(l, "x2"), n(l, "y2")),
                   l.getAttribute("class") || "line"]);
  for (const p of svg.querySelectorAll("polyline")) {
    const xy = p.getAttribute("points").trim().split(/[ ,]+/).map(Number);
    for (let i = 2; i + 1 < xy.length; i += 2)
      segments.push([...at(xy[i - 2], xy[i - 1]), ...at(xy[i], xy[i + 1]), "series"]);
  }
  const texts = [...svg.querySelectorAll("text")].map(t => {
    const r = t.getBoundingClientRect();
    return {text: t.textContent, cls: t.getAttribute("class") || "",
            box: [r.left, r.top, r.right, r.bottom]};
  });
  return {chart: [box.left, box.top, box.right, box.bottom], texts: texts, segments: segments,
          client: doc.documentElement.clientWidth};
}
window.addEventListener("load", async () => {
  const out = document.getElementById("result");
  try {
    const results = [];
    for (const frame of document.querySelectorAll("iframe")) {
      const r = AXE_SOURCE ? await audit(frame) : CHART ? chart(frame) : measure(frame);
      r.name = frame.dataset.name;
      r.width = Number(frame.dataset.width);
      results.push(r);
    }
    out.textContent = JSON.stringify(results);
  } catch (e) {
    out.textContent = JSON.stringify({error: String(e)});
  }
});
"""


def chromium(html_path, *options, timeout=120):
    """Runs headless Chromium on a file with a fresh profile."""
    with tempfile.TemporaryDirectory() as profile:
        return subprocess.run(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", f"--user-data-dir={profile}", *options,
             "file://" + os.path.abspath(html_path)],
            capture_output=True, text=True, timeout=timeout)


def render(html_path, png_path, width=1100, height=1500):
    """Renders a file to a PNG; returns the console messages the browser logged."""
    run = chromium(html_path, "--enable-logging=stderr", "--v=0", "--hide-scrollbars",
                   f"--window-size={width},{height}", f"--screenshot={png_path}")
    if not os.path.exists(png_path):
        raise AssertionError(f"chromium wrote no screenshot (status {run.returncode}):\n"
                             + run.stderr[-2000:])
    return [line for line in run.stderr.splitlines() if "CONSOLE" in line]


def distinct_colours(png_path):
    with Image.open(png_path) as image:
        colours = image.convert("RGB").getcolors(maxcolors=1 << 20)
    return len(colours) if colours is not None else 1 << 20


def check_page(html_path, png_path):
    """Returns a list of problems with one page."""
    problems = []
    with open(html_path, "rb") as f:
        data = f.read()
    try:
        html5lib.HTMLParser(strict=True).parse(data)
    except Exception as e:  # html5lib raises ParseError with the position
        problems.append(f"not well-formed HTML: {e}")
    if b"<script" in data.lower():
        problems.append("the page holds a script element")
    console = render(html_path, png_path)
    if console:
        problems.append("console messages:\n  " + "\n  ".join(console))
    colours = distinct_colours(png_path)
    if colours < 32:
        problems.append(f"blank render: {colours} distinct colours")
    return problems


def hostile_dump(tool, work):
    """A replayed drive whose INQUIRY texts are markup: the DOM the browser builds must hold no
    element of theirs."""
    source = os.path.join(work, "default")
    replay = os.path.join(work, "hostile-dumps")
    shutil.copytree(source, replay)
    # A folder put together by hand: without the run's manifest the edited dump is used as it is.
    os.remove(os.path.join(replay, "torvik_pssd_manifest.txt"))
    with open(os.path.join(replay, "torvik_usb_inq.bin"), "r+b") as f:
        f.seek(8)
        f.write(b"<img src=x onerror=a()>\xff" + b"<b>x" + b"</table>")
    out = os.path.join(work, "hostile-run")
    os.mkdir(out)
    subprocess.run([tool, "--html", "--replay", replay, "0y"], cwd=out, capture_output=True,
                   timeout=60, check=True)
    page = os.path.join(out, PAGE)
    problems = check_page(page, os.path.join(out, "page.png"))
    dom = chromium(page, "--dump-dom").stdout
    for element in ("<img", "<b>x"):
        if element in dom:
            problems.append(f"the drive's text made an element: {element}")
    if "&lt;img src=x onerror=a()&gt;" not in dom:
        problems.append("the drive's model is not shown as text")
    print(f"hostile dump: {'ok' if not problems else 'FAILED'}")
    return [f"hostile dump: {p}" for p in problems]


def in_frames(work, pages, widths, axe_source="", chart=False):
    """Loads test copies of pages ({name: html}) in frames of each width, all in one browser
    run, and returns what the harness script found in each: a list of dicts with name and
    width, and measure()'s, audit()'s or (with chart) chart()'s fields."""
    frames = "".join(
        f'<iframe data-name="{html.escape(name)}" data-width="{width}" width="{width}" '
        f'height="{6000 if axe_source else 900}" srcdoc="{html.escape(page)}"></iframe>'
        for name, page in pages.items() for width in widths)
    script = ("const AXE_SOURCE = " + json.dumps(axe_source).replace("</", "<\\/") + ";" +
              f"const CHART = {'true' if chart else 'false'};" + HARNESS_SCRIPT)
    harness = os.path.join(work, "harness.html")
    with open(harness, "w", encoding="utf-8") as f:
        f.write("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>harness</title>"
                "</head><body>" + frames +
                f'<pre id="result">pending</pre><script>{script}</script></body></html>')
    # Virtual time lets the page's asynchronous work finish before the DOM is printed.
    dom = chromium(harness, "--dump-dom", "--virtual-time-budget=300000", "--hide-scrollbars",
                   "--window-size=1400,1000", timeout=600).stdout
    start = dom.find('<pre id="result">')
    end = dom.find("</pre>", start)
    if start < 0 or end < 0:
        raise AssertionError("the test harness printed no result:\n" + dom[-2000:])
    result = json.loads(html.unescape(dom[start + len('<pre id="result">'):end]))
    if not isinstance(result, list):
        raise AssertionError(f"the test harness failed: {result}")
    return result


def overflow_problems(results):
    """The frames a page scrolled sideways in, or that were not as wide as asked."""
    problems = []
    for r in results:
        if r["inner"] != r["width"]:
            problems.append(f"{r['name']}: the frame is {r['inner']} px wide, not {r['width']}")
        elif r["scroll"] > r["client"]:
            problems.append(f"{r['name']}: at {r['width']} px the page is {r['scroll']} px wide "
                            f"(too wide: {', '.join(r['wide']) or '?'})")
    return problems


def axe_problems(results):
    return [f"{r['name']} at {r['width']} px: {v['id']} ({v['impact']}): {v['help']}: "
            + "; ".join(v["nodes"]) for r in results for v in r["violations"]]


def badge_page_problems(work, name, page):
    """Prints a test copy of a page to PDF; the verdict badge must be on page one."""
    marked = page.replace("</head>",
                          f'<style>.badge::after{{content:" {BADGE_MARK}"}}</style></head>', 1)
    copy = os.path.join(work, f"{name}-print.html")
    pdf = os.path.join(work, f"{name}.pdf")
    with open(copy, "w") as f:
        f.write(marked)
    chromium(copy, f"--print-to-pdf={pdf}", "--no-pdf-header-footer")
    if not os.path.exists(pdf):
        return [f"{name}: chromium printed no PDF"]
    text = subprocess.run([PDFTOTEXT, "-f", "1", "-l", "1", pdf, "-"], capture_output=True,
                          text=True, check=True).stdout
    return [] if BADGE_MARK in text else [f"{name}: the verdict badge is not on printed page one"]


def profile_pages(tool, work):
    """Runs the tool with --html on every simulated drive: {profile: page path}, failures."""
    listing = subprocess.run([tool, "--sim=list"], capture_output=True, text=True, check=True)
    profiles = [line.split()[0] for line in listing.stdout.splitlines() if line.strip()]
    pages, failures = {}, []
    for profile in profiles:
        directory = os.path.join(work, profile)
        os.mkdir(directory)
        run = subprocess.run([tool, "--html", f"--sim={profile}", "0y"], cwd=directory,
                             capture_output=True, text=True, timeout=60)
        page = os.path.join(directory, PAGE)
        if run.returncode != 0 or not os.path.exists(page):
            failures.append(f"{profile}: status {run.returncode}, page written: "
                            f"{os.path.exists(page)}")
            continue
        pages[profile] = page
    # A page with the wear chart: a year of earlier runs of the default drive, wear rising, then
    # this run with --history; its later bad blocks rose, said under the chart.
    directory = os.path.join(work, "default-history")
    os.mkdir(directory)
    now = 1796688000  # 2026-12-08
    with open(os.path.join(directory, "history.jsonl"), "w", encoding="ascii") as history:
        for run in range(40):
            history.write(json.dumps({"time_seconds": now - (40 - run) * 9 * 86400,
                                      "serial": "SIM00000000000001", "identity": "nvme",
                                      "model": "TORVIK PSSD SIM 1TB", "percentage_used": run // 20,
                                      "data_written_bytes": 17000000000000 + run * 26000000000,
                                      "later_bad_blocks": run // 20})
                          + "\n")
    run = subprocess.run([tool, "--html", "--sim=default", "0y", "--history", "history.jsonl"],
                         cwd=directory, capture_output=True, text=True, timeout=60,
                         env=dict(os.environ, SOURCE_DATE_EPOCH=str(now)))
    page = os.path.join(directory, PAGE)
    text = read(page) if os.path.exists(page) else ""
    if run.returncode != 0 or "Wear over time" not in text or "Later bad blocks 0 to 3" not in text:
        failures.append(f"default with --history: status {run.returncode}, no wear chart or "
                        "no rise of its later bad blocks")
    else:
        pages["default-history"] = page
    return pages, failures


NOW = 1796688000  # 2026-12-08, the time of the run that draws the chart
DAY = 86400


def patched_dumps(tool, work, name, used=None, erases=None):
    """The default drive's dumps of a run at NOW, its percentage used (byte 5 of both copies of
    the NVMe log) or average erase count (the extended SMART record 0x020B) changed, and the
    run's manifest given the new checksums: a drive worn that far."""
    folder = os.path.join(work, name + "-dumps")
    os.mkdir(folder)
    subprocess.run([tool, "--sim=default", "0y"], cwd=folder, capture_output=True, timeout=60,
                   check=True, env=dict(os.environ, SOURCE_DATE_EPOCH=str(NOW)))
    edited = []
    if used is not None:
        edited += [("smart", 5, bytes([used])), ("nvme_smart", 5, bytes([used]))]
    if erases is not None:
        with open(os.path.join(folder, "torvik_pssd_smartext.bin"), "rb") as f:
            page = f.read()
        record = next(at for at in range(0, len(page), 16) if page[at + 2:at + 4] == b"\x0b\x02")
        edited.append(("smartext", record + 8, erases.to_bytes(8, "little")))
    manifest_path = os.path.join(folder, "torvik_pssd_manifest.txt")
    manifest = read(manifest_path).splitlines()
    for dump, offset, value in edited:
        path = os.path.join(folder, f"torvik_pssd_{dump}.bin")
        with open(path, "r+b") as f:
            f.seek(offset)
            f.write(value)
        with open(path, "rb") as f:
            crc = zlib.crc32(f.read())
        manifest = [line.rsplit("crc32=", 1)[0] + f"crc32={crc:08x}"
                    if line.startswith(dump + " ") else line for line in manifest]
    with open(manifest_path, "w", encoding="ascii") as f:
        f.write("\n".join(manifest) + "\n")
    return folder


def runs(count, days_apart, first_used, last_used, **more):
    """count earlier runs of the default drive, days_apart from each other and from this one,
    percentage used rising evenly from first_used to last_used; more: other figures given as
    (first, last), rising evenly too."""
    lines = []
    for i in range(count):
        share = i / (count - 1) if count > 1 else 1
        line = {"time_seconds": NOW - (count - i) * days_apart * DAY,
                "serial": "SIM00000000000001", "model": "TORVIK PSSD SIM 1TB",
                "identity": "nvme",
                "percentage_used": round(first_used + share * (last_used - first_used))}
        for key, (first, last) in more.items():
            line[key] = round(first + share * (last - first))
        lines.append(line)
    return lines


# The seven charts: (name, how the run is made, its history, and the one label the chart must show
# of its answer: the projected date, or where it reached 100 %; None where there is neither).
def chart_cases(tool, work):
    written = {"data_written_bytes": (14000000000000, 18000000000000)}
    return [
        ("24-runs", ["--replay", patched_dumps(tool, work, "24-runs", used=36)],
         runs(23, 15, 26, 35, **written), ("projected", "100% about 2033-03, in 2,289 days")),
        ("fast-wearing", ["--replay", patched_dumps(tool, work, "fast-wearing", used=85)],
         runs(12, 14, 55, 84, **written), ("projected", "100% about 2027-02, in 75 days")),
        ("past-100", ["--sim=worn-out"],
         [dict(r, serial="SIM00000000000104") for r in runs(12, 30, 80, 103, **written)],
         ("reached", "100% used reached about 2026-09")),
        ("flat-erase-counts",
         ["--replay", patched_dumps(tool, work, "flat-erase-counts", erases=2700)],
         runs(23, 15, 2, 2, average_erase_count=(2300, 2690), rated_pe_cycles=(3000, 3000),
              **written), ("projected", "100% about 2027-08, in 257 days")),
        ("one-run", ["--sim=default"], [], None),
        ("beyond-ten-years", ["--sim=default"], runs(23, 15, 0, 2, **written),
         ("projected", "100% about 2067-08 \u2192")),
        ("range-warns", ["--replay", patched_dumps(tool, work, "range-warns", used=84)],
         runs(1, 10, 80, 80, **written), ("projected", "100% about 2027-01, in 40 days")),
    ]


def chart_pages(tool, work):
    """Runs the tool with --html and each case's history: {case: (page, expected label)}."""
    pages, failures = {}, []
    for name, how, history, label in chart_cases(tool, work):
        directory = os.path.join(work, name)
        os.mkdir(directory)
        with open(os.path.join(directory, "history.jsonl"), "w", encoding="ascii") as f:
            f.writelines(json.dumps(line) + "\n" for line in history)
        run = subprocess.run([tool, "--html", *how, "0y", "--history", "history.jsonl"],
                             cwd=directory, capture_output=True, text=True, timeout=60,
                             env=dict(os.environ, SOURCE_DATE_EPOCH=str(NOW)))
        page = os.path.join(directory, PAGE)
        if not os.path.exists(page) or "Wear over time" not in read(page):
            failures.append(f"chart {name}: status {run.returncode}, no wear chart\n"
                            + run.stderr[-1000:])
            continue
        pages[name] = (page, label)
    return pages, failures


def crosses(segment, box):
    """Whether a line from (x1, y1) to (x2, y2) passes through the inside of a box."""
    x1, y1, x2, y2 = segment[:4]
    enter, leave = 0.0, 1.0
    for p, q in ((x1 - x2, x1 - box[0]), (x2 - x1, box[2] - x1),
                 (y1 - y2, y1 - box[1]), (y2 - y1, box[3] - y1)):
        if p == 0:
            if q <= 0:
                return False
            continue
        r = q / p
        if p < 0:
            enter = max(enter, r)
        else:
            leave = min(leave, r)
    return enter < leave


def chart_layout_problems(result, label):
    """What is wrong with one chart as the browser laid it out."""
    name = f"chart {result['name']} at {result['width']} px"
    if result.get("missing"):
        return [f"{name}: no chart"]
    problems = []
    texts = result["texts"]
    for i, a in enumerate(texts):
        for b in texts[i + 1:]:
            if (a["box"][0] < b["box"][2] and b["box"][0] < a["box"][2]
                    and a["box"][1] < b["box"][3] and b["box"][1] < a["box"][3]):
                problems.append(f"{name}: '{a['text']}' overlaps '{b['text']}'")
        for s in result["segments"]:
            if crosses(s, a["box"]):
                problems.append(f"{name}: a line ({s[4]}) crosses '{a['text']}'")
                break
    answer = [t for t in texts if t["cls"] in ("projected", "reached")]
    if [(t["cls"], t["text"]) for t in answer] != ([label] if label else []):
        problems.append(f"{name}: the chart's answer is "
                        f"{[(t['cls'], t['text']) for t in answer]}, not {label}")
    chart = result["chart"]
    if chart[0] < 0 or chart[2] > result["client"]:
        problems.append(f"{name}: the chart ({chart[0]:.0f} to {chart[2]:.0f} px) does not fit "
                        f"its window of {result['client']} px")
    for t in answer:
        if not (chart[0] <= t["box"][0] and t["box"][2] <= chart[2]
                and chart[1] <= t["box"][1] and t["box"][3] <= chart[3]):
            problems.append(f"{name}: '{t['text']}' lies outside the chart")
    return problems


def chart_checks(tool, work, shots=None):
    """The layout of the seven wear charts in the browser; returns the failures."""
    failures = []
    found = [p for r in in_frames(work, {"planted": PLANTED_CHART}, (390,), chart=True)
             for p in chart_layout_problems(r, ("projected", "100% about 2030-01"))]
    for fault in ("overlaps", "crosses", "outside the chart", "does not fit"):
        if not any(fault in problem for problem in found):
            failures.append(f"self-check: a chart whose text {fault} went unnoticed")
    pages, failures_run = chart_pages(tool, work)
    failures += failures_run
    results = in_frames(work, {name: read(page) for name, (page, _) in pages.items()},
                        CHART_WIDTHS, chart=True)
    found = [p for r in results for p in chart_layout_problems(r, pages[r["name"]][1])]
    failures += found
    print(f"wear charts: {len(results)} laid out, {len(found)} problems")
    for name, (page, _) in pages.items():
        if shots:
            # The chart alone: every other part of the page hidden.
            copy = os.path.join(work, f"{name}-chart.html")
            with open(copy, "w", encoding="utf-8") as f:
                f.write(read(page).replace(
                    "</head>", "<style>main>*:not(#trend){display:none}</style></head>", 1))
            render(copy, os.path.join(shots, f"{name}.png"), width=820, height=900)
    return failures


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


# A page wider than a narrow window, and one with grey text on white (2.8:1).
PLANTED = ("<!DOCTYPE html><html lang=\"en\"><head><title>x</title><meta name=\"viewport\" "
           "content=\"width=device-width,initial-scale=1\"></head><body><main>{}</main>"
           "</body></html>")
TOO_WIDE = PLANTED.format('<div style="width:600px">wide</div>')
FAINT = PLANTED.format('<p style="color:#999;background:#fff">faint</p>')
# A chart with each fault the layout check looks for: two texts one over the other, a line
# through a text, and the projected date outside the drawing.
PLANTED_CHART = PLANTED.format(
    '<svg class="trend" viewBox="0 0 400 100" width="400"><g font-size="12">'
    '<text x="10" y="20">first</text><text x="14" y="24">second</text>'
    '<line x1="100" y1="40" x2="200" y2="40"/><text x="120" y="44">crossed</text>'
    '<text x="380" y="90" class="projected">100% about 2030-01</text></g></svg>')


def accessibility(tool, axe_js):
    """Runs axe-core on every profile's page; returns the failures."""
    axe_source = read(axe_js)
    failures = []
    with tempfile.TemporaryDirectory() as work:
        found = axe_problems(in_frames(work, {"planted": FAINT}, AXE_WIDTHS, axe_source))
        if not any("color-contrast" in problem for problem in found):
            failures.append("self-check: a text of too little contrast went unnoticed")
        pages, failures_run = profile_pages(tool, work)
        failures += failures_run
        charts, failures_run = chart_pages(tool, work)
        failures += failures_run
        pages.update({f"chart {name}": page for name, (page, _) in charts.items()})
        results = in_frames(work, {p: read(path) for p, path in pages.items()}, AXE_WIDTHS,
                            axe_source)
        found = axe_problems(results)
        failures += found
        print(f"axe-core: {len(results)} pages checked, {len(found)} violations")
    return failures


def main():
    if sys.argv[1] == "--axe":
        axe_js = sys.argv[2]
        if not os.path.isfile(axe_js):
            skip(f"axe-core is not installed: no {axe_js} (tools/run_tests.sh installs it)")
        failures = accessibility(os.path.abspath(sys.argv[3]), axe_js)
        for failure in failures:
            print(failure)
        return 1 if failures else 0
    if sys.argv[1] == "--charts":
        shots = os.path.abspath(sys.argv[2])
        os.makedirs(shots, exist_ok=True)
        with tempfile.TemporaryDirectory() as work:
            failures = chart_checks(os.path.abspath(sys.argv[3]), work, shots)
        for failure in failures:
            print(failure)
        return 1 if failures else 0
    tool = os.path.abspath(sys.argv[1])
    keep = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
    failures = []
    with tempfile.TemporaryDirectory() as work:
        # The checks themselves: a console error and a blank page must both be caught.
        bad = os.path.join(work, "bad.html")
        with open(bad, "w") as f:
            f.write("<!DOCTYPE html><html><head><title>x</title></head><body>"
                    "<script>console.error('deliberate')</script></body></html>")
        if not render(bad, os.path.join(work, "bad.png")):
            failures.append("self-check: a console error went unnoticed")
        blank = os.path.join(work, "blank.html")
        with open(blank, "w") as f:
            f.write("<!DOCTYPE html><html><head><title>x</title></head><body></body></html>")
        render(blank, os.path.join(work, "blank.png"))
        if distinct_colours(os.path.join(work, "blank.png")) >= 32:
            failures.append("self-check: a blank page passed as drawn")

        try:
            html5lib.HTMLParser(strict=True).parse(b"<!DOCTYPE html><title>x</title><p>a</div>")
            failures.append("self-check: html5lib took a stray end tag")
        except Exception:
            pass

        found = overflow_problems(in_frames(work, {"planted": TOO_WIDE}, (400,)))
        if not any("too wide" in problem for problem in found):
            failures.append("self-check: a page wider than its window went unnoticed")

        pages, failures_run = profile_pages(tool, work)
        failures += failures_run
        for profile, page in pages.items():
            png = os.path.join(os.path.dirname(page), "page.png")
            problems = check_page(page, png)
            failures += [f"{profile}: {p}" for p in problems]
            print(f"{profile}: {'ok' if not problems else 'FAILED'} "
                  f"({distinct_colours(png)} colours)")
            if keep and profile == "default" and not problems:
                with Image.open(png) as image:
                    image.convert("RGB").quantize(colors=256).save(keep, optimize=True)

        copies = {profile: read(page) for profile, page in pages.items()}
        found = overflow_problems(in_frames(work, copies, WIDTHS))
        failures += found
        print(f"widths {', '.join(map(str, WIDTHS))} px: {len(copies)} pages, "
              f"{len(found)} too wide")
        # The same page with a block a page high before the badge.
        pushed = copies.get("default", "").replace("<main>", '<main><div style="height:3000px">'
                                                   '</div>', 1)
        if not badge_page_problems(work, "planted", pushed):
            failures.append("self-check: a badge printed on page two went unnoticed")
        found = [p for profile, page in copies.items()
                 for p in badge_page_problems(work, profile, page)]
        failures += found
        print(f"printed: {len(copies)} pages, {len(found)} without the badge on page one")
        failures += hostile_dump(tool, work)
        failures += chart_checks(tool, work)
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
