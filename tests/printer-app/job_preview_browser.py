#!/usr/bin/env python3
"""A job's preview in a real browser.

Starts a private inkrow-printer-app on a loopback port (end_to_end.App), prints a PNG
of two coloured bands (a job name full of HTML's special characters) with the photo
driver, then loads the job's page in headless Chromium: the DOM must hold the
thumbnail linked to the whole picture, both must answer 200 with a PNG, the thumbnail
must show the bands' colours, and Chromium's screenshot of the page must show them
too. A document in the printer's own language gets the reason it has no preview; when
run as root, another local user is refused the pictures.

Exit status: 0 passed, 1 failed (also without Chromium, which scripts/setup.sh test
installs), 77 skipped (run as root without setpriv).
"""

import argparse
import os
import pwd
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import end_to_end  # noqa: E402
from end_to_end import App, Failure, log, run_in_work_directory  # noqa: E402

end_to_end.DEADLINE = time.monotonic() + 100
SKIP = 77
# The bands of the document, and how far from them a preview's colour may lie: the
# preview shows the inks' mix, not the document's sRGB.
RED = (220, 30, 30)
BLUE = (20, 60, 200)
JOB_NAME = 'bands <b>&"\'.png'


def write_png(path, width, height, pixel):
    """An 8-bit RGB PNG; pixel(x, y) gives the colour."""
    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(width))
                    for y in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" +
                chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def read_png(data):
    """(width, height, rows of RGB tuples) of an 8-bit RGB or RGBA PNG, not interlaced."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise Failure("not a PNG")
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    width, height, depth, color, _, _, interlace = header
    if depth != 8 or color not in (2, 6) or interlace:
        raise Failure("unexpected PNG kind: depth %d, colour type %d" % (depth, color))
    channels = 3 if color == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def is_reddish(rgb):
    return rgb[0] > rgb[1] + 60 and rgb[0] > rgb[2] + 60


def is_bluish(rgb):
    return rgb[2] > rgb[0] + 25 and rgb[2] > rgb[1] + 25


def fetch(url, user_prefix=()):
    """(status, content type, body) of a GET; as another user through user_prefix."""
    if user_prefix:
        script = ("import sys, urllib.request, urllib.error\n"
                  "try:\n"
                  "    r = urllib.request.urlopen(sys.argv[1], timeout=10); print(r.status)\n"
                  "except urllib.error.HTTPError as e:\n"
                  "    print(e.code)\n")
        out = subprocess.run([*user_prefix, sys.executable, "-c", script, url],
                             capture_output=True, timeout=end_to_end.remaining(20))
        return int(out.stdout.decode().strip() or 0), "", b""
    try:
        with urllib.request.urlopen(url, timeout=end_to_end.remaining(15)) as response:
            return response.status, response.headers.get("Content-Type", ""), response.read()
    except urllib.error.HTTPError as error:
        return error.code, "", b""


def wait_preview(url, limit=30):
    """The job's page once its preview is drawn (or said to be missing): the application
    draws it after the job ends, in a thread of its own."""
    end = time.monotonic() + end_to_end.remaining(limit)
    while True:
        status, kind, body = fetch(url)
        text = body.decode(errors="replace")
        if status != 200 or "being drawn" not in text or time.monotonic() > end:
            return status, kind, text
        time.sleep(0.2)


def chromium(binary, work, *argv):
    profile = tempfile.mkdtemp(prefix="chromium-", dir=work)
    command = [binary, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
               "--disable-dev-shm-usage", "--user-data-dir=" + profile, *argv]
    try:
        result = subprocess.run(command, capture_output=True,
                                timeout=end_to_end.remaining(40), start_new_session=True)
    except subprocess.TimeoutExpired:
        raise Failure("chromium timed out: " + " ".join(command))
    if result.returncode != 0:
        raise Failure("chromium exited with %d:\n%s" % (result.returncode,
                                                         result.stderr.decode(errors="replace")))
    return result.stdout.decode(errors="replace")


def check_thumbnail(data):
    width, height, rows = read_png(data)
    if width != 256:
        raise Failure("the thumbnail is %d pixels wide, not 256" % width)
    # The document fills the page's width, scaled: the bands cross its middle column.
    column = [rows[y][width // 2] for y in range(height)]
    red = [c for c in column if is_reddish(c)]
    blue = [c for c in column if is_bluish(c)]
    if len(red) < height // 8 or len(blue) < height // 8:
        raise Failure("the thumbnail's middle column shows %d red and %d blue pixels of %d"
                      % (len(red), len(blue), height))
    first_red = next(y for y in range(height) if is_reddish(column[y]))
    first_blue = next(y for y in range(height) if is_bluish(column[y]))
    if first_red > first_blue:
        raise Failure("the thumbnail shows the blue band above the red one")
    return width, height


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--app", required=True)
    parser.add_argument("--chromium", default="chromium")
    parser.add_argument("--keep", action="store_true", help="keep the work files")
    args, _ = parser.parse_known_args()
    browser = shutil.which(args.chromium)
    if not browser:
        # Not skipped: the browser is part of the test tools every run installs.
        log("FAIL: %s is not installed (Debian: chromium; scripts/setup.sh test installs it)"
            % args.chromium)
        return 1
    if os.geteuid() == 0 and not shutil.which("setpriv"):
        log("SKIP: setpriv is needed to run the application unprivileged")
        return SKIP

    def body(work, apps):
        started = time.monotonic()
        out = os.path.join(work, "out")
        os.makedirs(out)
        os.chmod(out, 0o777)
        document = os.path.join(work, "bands.png")
        write_png(document, 120, 160, lambda x, y: RED if y < 80 else BLUE)
        os.chmod(document, 0o644)
        app = App(args, work)
        apps.append(app)
        app.start()
        app.add_printer("photo", "inkrow-photo", "file://%s?ext=prn" % out)
        job, _ = app.submit("photo", document, JOB_NAME,
                            ("media=na_index-4x6_4x6in", "printer-resolution=300dpi"))
        if app.wait_job("photo", job) != "completed":
            raise Failure("the job did not complete:\n" + app.log_tail())
        base = "http://127.0.0.1:%d" % app.port
        page_url = "%s/photo/job?id=%d" % (base, job)

        # The page as served: the job's name escaped, the thumbnail linked to the picture.
        status, kind, text = wait_preview(page_url)
        if status != 200 or "text/html" not in kind:
            raise Failure("%s answered %d %s" % (page_url, status, kind))
        # PAPPL's escaping turns <, & and " into entities, which is all that text and
        # double-quoted attributes need.
        if "bands &lt;b>&amp;&quot;" not in text or "<b>" in text:
            raise Failure("the job's name is not on its page, escaped:\n" + text[-3000:])

        # The browser's DOM, after Chromium has loaded and laid out the page.
        dom = chromium(browser, work, "--dump-dom", page_url)
        thumbnail_src = "/photo/job/thumbnail.png?id=%d" % job
        picture_href = "/photo/job/page.png?id=%d" % job
        if not re.search(r'<a href="%s"><img class="job-preview" src="%s"'
                         % (re.escape(picture_href), re.escape(thumbnail_src)), dom):
            raise Failure("the DOM has no thumbnail linked to the picture:\n" + dom[-3000:])
        status, kind, thumbnail = fetch(base + thumbnail_src)
        if status != 200 or kind != "image/png":
            raise Failure("the thumbnail answered %d %s" % (status, kind))
        width, height = check_thumbnail(thumbnail)
        status, kind, picture = fetch(base + picture_href)
        if status != 200 or kind != "image/png":
            raise Failure("the picture answered %d %s" % (status, kind))
        picture_width, picture_height, _ = read_png(picture)
        # 4x6 inches at 150 dpi.
        if abs(picture_width - 600) > 4 or abs(picture_height - 900) > 4:
            raise Failure("the picture is %dx%d pixels, not about 600x900"
                          % (picture_width, picture_height))
        log("job page: DOM and pictures as expected (thumbnail %dx%d, picture %dx%d)"
            % (width, height, picture_width, picture_height))

        # What a person would see: the screenshot shows both bands.
        screenshot = os.path.join(work, "page.png")
        chromium(browser, work, "--screenshot=" + screenshot, "--window-size=1024,1400",
                 "--hide-scrollbars", page_url)
        shot_width, shot_height, rows = read_png(open(screenshot, "rb").read())
        red = sum(1 for row in rows for c in row if is_reddish(c))
        blue = sum(1 for row in rows for c in row if is_bluish(c))
        # The thumbnail is 256 pixels wide; each band covers a good part of it.
        if red < 256 * height // 8 or blue < 256 * height // 8:
            raise Failure("the screenshot (%dx%d) shows %d red and %d blue pixels"
                          % (shot_width, shot_height, red, blue))
        log("screenshot %dx%d: %d red and %d blue pixels" % (shot_width, shot_height, red, blue))

        # The list of jobs links to the job's page.
        status, _, body = fetch("%s/photo/job" % base)
        if status != 200 or ('href="/photo/job?id=%d"' % job) not in body.decode():
            raise Failure("the printer's previews page does not link to job %d" % job)

        # A stream already in the printer's language has no print mode to draw it by.
        raw = os.path.join(work, "ready.prn")
        shutil.copy(os.path.join(out, sorted(os.listdir(out))[0]), raw)
        os.chmod(raw, 0o644)
        raw_job, _ = app.submit("photo", raw, "ready-made",
                                ("document-format=application/vnd.inkrow",))
        app.wait_job("photo", raw_job)
        status, _, text = wait_preview("%s/photo/job?id=%d" % (base, raw_job))
        if status != 200 or "No preview: the document came in the printer" not in text:
            raise Failure("a ready-made stream's page does not say why it has no preview")
        status, _, _ = fetch("%s/photo/job/thumbnail.png?id=%d" % (base, raw_job))
        if status != 404:
            raise Failure("a job without preview answered %d for its thumbnail" % status)
        # A document that fails before its first page is whole.
        broken = os.path.join(work, "broken.png")
        with open(document, "rb") as whole, open(broken, "wb") as cut:
            cut.write(whole.read()[:60])
        os.chmod(broken, 0o644)
        broken_job, _ = app.submit("photo", broken, "broken")
        app.wait_job("photo", broken_job)
        status, _, text = wait_preview("%s/photo/job?id=%d" % (base, broken_job))
        if status != 200 or "No preview: the job ended before its first page was whole" \
                not in text:
            raise Failure("a job that failed on its first page does not say why it has no "
                          "preview")
        # A job canceled while held never printed.
        held_job, _ = app.submit("photo", document, "held", ("job-hold-until=indefinite",))
        app.wait_job("photo", held_job, states=("held", "pending-held"))
        app.command("cancel", "-d", "photo", "-j", str(held_job))
        app.wait_job("photo", held_job)
        status, _, text = wait_preview("%s/photo/job?id=%d" % (base, held_job))
        if status != 200 or "No preview: the job never printed" not in text:
            raise Failure("a job canceled before it printed does not say why it has no preview")
        for path in ("/photo/job?id=999", "/photo/job?id=x", "/nosuch/job?id=%d" % job,
                     "/photo/job/page.png?id=999"):
            status, _, _ = fetch(base + path)
            if status != 404:
                raise Failure("%s answered %d, not 404" % (path, status))

        # Another local user is neither an administrator nor the job's owner.
        if os.geteuid() == 0:
            other = pwd.getpwnam("daemon")
            prefix = ["setpriv", "--reuid=%d" % other.pw_uid, "--regid=%d" % other.pw_gid,
                      "--clear-groups"]
            for path in (thumbnail_src, picture_href, "/photo/job?id=%d" % job):
                status, _, _ = fetch(base + path, prefix)
                if status != 403:
                    raise Failure("user daemon got %d for %s, not 403" % (status, path))
            log("another local user is refused the job's preview")
        app.stop()

        # A previews directory that is not the server's own stops it at once.
        if os.geteuid() == 0:
            foreign = os.path.join(work, "foreign")
            for directory in ("state", "state/spool", "state/spool/previews"):
                os.makedirs(os.path.join(foreign, directory))
                os.chmod(os.path.join(foreign, directory), 0o777)
            os.chmod(foreign, 0o777)
            other = App(args, foreign)
            try:
                other.start()
                other.stop()
                raise Failure("the server started with a previews directory of root's")
            except Failure as failure:
                if "is not a directory of this user" not in str(failure):
                    raise
            log("a foreign previews directory is refused")
        app.stop_checked()

    return run_in_work_directory(args, "inkrow-preview-", body)


if __name__ == "__main__":
    sys.exit(main())
