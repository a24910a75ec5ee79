#!/usr/bin/python3
"""The HTML report of every simulated drive in a real browser.

For each profile of --sim=list: run the tool with --html, parse the page with html5lib in strict
mode (any parse error fails), render it with headless Chromium to a PNG, and check that the
render is not blank and that the browser logged no console message. A page with a deliberate
console error, a blank page and a malformed one are checked first, to prove the checks can fail.

Usage: html_render_check.py TOOL [SCREENSHOT]   (SCREENSHOT: also keep the default drive's render)
Exit status 77 (skipped) when chromium, html5lib or PIL is missing.
"""
import os
import shutil
import subprocess
import sys
import tempfile

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


def render(html_path, png_path, width=1100, height=1500):
    """Renders a file to a PNG; returns the console messages the browser logged."""
    with tempfile.TemporaryDirectory() as profile:
        run = subprocess.run(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", f"--user-data-dir={profile}", "--enable-logging=stderr", "--v=0",
             "--hide-scrollbars", f"--window-size={width},{height}",
             f"--screenshot={png_path}", "file://" + os.path.abspath(html_path)],
            capture_output=True, text=True, timeout=120)
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
    with tempfile.TemporaryDirectory() as profile:
        dom = subprocess.run(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             f"--user-data-dir={profile}", "--dump-dom", "file://" + page],
            capture_output=True, text=True, timeout=120).stdout
    for element in ("<img", "<b>x"):
        if element in dom:
            problems.append(f"the drive's text made an element: {element}")
    if "&lt;img src=x onerror=a()&gt;" not in dom:
        problems.append("the drive's model is not shown as text")
    print(f"hostile dump: {'ok' if not problems else 'FAILED'}")
    return [f"hostile dump: {p}" for p in problems]


def main():
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

        listing = subprocess.run([tool, "--sim=list"], capture_output=True, text=True, check=True)
        profiles = [line.split()[0] for line in listing.stdout.splitlines() if line.strip()]
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
            png = os.path.join(directory, "page.png")
            problems = check_page(page, png)
            failures += [f"{profile}: {p}" for p in problems]
            print(f"{profile}: {'ok' if not problems else 'FAILED'} "
                  f"({distinct_colours(png)} colours)")
            if keep and profile == "default" and not problems:
                with Image.open(png) as image:
                    image.convert("RGB").quantize(colors=256).save(keep, optimize=True)
        failures += hostile_dump(tool, work)
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
