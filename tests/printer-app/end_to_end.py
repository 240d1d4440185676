#!/usr/bin/env python3
"""End-to-end test of inkrow-printer-app.

Starts the application on a private loopback port with its own temporary state
directory (as the unprivileged user "nobody" when run as root), adds printers with
file: devices, prints PDF, PNG, JPEG, PWG raster and Apple raster through its `submit`
sub-command, ipptool and a raw IPP client, and reads every stream back strictly with
inkrow-decode. PDF and PWG raster streams must equal those inkrow-print makes of the same
input: both doors drive the same print layer.
Bad documents, a job canceled mid-page and devices that cannot be written must stop the
job with a clear reason in the log while the next job still prints. With --cups the
test instead prints through a private cupsd with a driverless (IPP Everywhere) queue.

Every wait is bounded; the application and cupsd are stopped however the test ends.
Exit status: 0 passed, 1 failed, 77 skipped (a tool it needs is missing).
"""

import argparse
import http.client
import os
import pwd
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request
import zlib

DEADLINE = time.monotonic() + 165
SKIP = 77


class Failure(Exception):
    pass


def remaining(limit):
    """The smaller of `limit` seconds and the time left before the overall deadline."""
    left = DEADLINE - time.monotonic()
    if left <= 0:
        raise Failure("the test ran out of time")
    return min(limit, left)


def log(message):
    print(message, flush=True)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# ---- Test documents -------------------------------------------------------------------

TEST_PAGE_PS = r"""%!PS-Adobe-3.0
%%Pages: {pages}
%%EndComments
/inch {{72 mul}} def
1 1 {pages} {{
  /n exch def
  /Helvetica-Bold findfont 24 scalefont setfont
  0.7 inch 10 inch moveto (inkrow printer application, page ) show n 3 string cvs show
  0 1 9 {{
    /i exch def
    i 10 div 1 i 10 div sub 0.3 0 setcmykcolor
    0.7 inch i 0.7 inch mul add 6 inch 0.6 inch 3 inch rectfill
    0 0 0 i 10 div setcmykcolor
    0.7 inch i 0.7 inch mul add 2.5 inch 0.6 inch 3 inch rectfill
  }} for
  1 0 0 0 setcmykcolor 4 setlinewidth
  1 inch 1.5 inch moveto 7 inch 9.5 inch lineto stroke
  showpage
}} for
%%EOF
"""


def make_pdf(path, pages, work):
    ps = os.path.join(work, "page.ps")
    with open(ps, "w") as f:
        f.write(TEST_PAGE_PS.format(pages=pages))
    run(["ps2pdf", "-sPAPERSIZE=a4", ps, path], timeout=60)


def ghostscript_picture(ps_source, device, resolution, path, extra=()):
    run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=" + device,
         "-r%d" % resolution, "-sPAPERSIZE=a4", *extra, "-sOutputFile=" + path, ps_source],
        timeout=60)


def ghostscript_picture_from(ps_text, device, resolution, path, work):
    source = os.path.join(work, "picture.ps")
    with open(source, "wb") as f:
        f.write(ps_text)
    ghostscript_picture(source, device, resolution, path)


def png_with_bad_crc(good, bad):
    """Copies a PNG, corrupting one byte of its first IDAT chunk (the CRC no longer fits)."""
    data = bytearray(open(good, "rb").read())
    at = data.find(b"IDAT")
    if at < 0:
        raise Failure("no IDAT chunk in " + good)
    data[at + 4 + 10] ^= 0x55
    open(bad, "wb").write(bytes(data))


def pwg_header(width, height, dpi, color_space, colors):
    """A PWG raster page header: 8 bits a colour, chunky pixels, one page in all."""
    header = bytearray(1796)
    header[0:9] = b"PwgRaster"
    for offset, value in ((276, dpi), (280, dpi), (352, width * 72 // dpi),
                          (356, height * 72 // dpi), (372, width), (376, height), (384, 8),
                          (388, 8 * colors), (392, width * colors), (396, 0),
                          (400, color_space), (420, colors), (452, 1)):
        struct.pack_into(">I", header, offset, value)
    return bytes(header)


# Pixels of the test rasters from a level across and a ramp down (0..255), by colour
# space: PWG colour space number and the pixel's bytes.
RASTER_KINDS = {
    "srgb": (19, lambda level, ramp: bytes((level, ramp, 160))),
    "sgray": (18, lambda level, ramp: bytes((level,))),
    "black": (3, lambda level, ramp: bytes((255 - level,))),  # 255 is full black ink
    "cmyk": (6, lambda level, ramp: bytes((level, ramp, 255 - level, ramp // 4))),
    "lab": (15, lambda level, ramp: bytes((level, 128, 128))),  # CIE Lab: not printed
}


def raster_pages(path, pages, dpi=300):
    """A PWG raster of several pages, each (width, height, kind)."""
    with open(path, "wb") as f:
        f.write(b"RaS2")
        for width, height, kind in pages:
            color_space, pixel_of = RASTER_KINDS[kind]
            header = bytearray(pwg_header(width, height, dpi, color_space, len(pixel_of(0, 0))))
            struct.pack_into(">I", header, 452, len(pages))
            f.write(bytes(header) + gradient_body(width, height, pixel_of))


def gradient_body(width, height, pixel_of):
    """Coded lines of a picture inked on every line: colour steps 16 pixels wide across,
    a ramp down. Each line is used once; each step is one run of equal pixels."""
    steps = [(x, min(16, width - x)) for x in range(0, width, 16)]
    body = bytearray()
    for y in range(height):
        body.append(0)
        ramp = y * 255 // height
        for x, count in steps:
            body.append(count - 1)
            body += pixel_of(x * 255 // width, ramp)
    return bytes(body)


def gradient_pwg(path, width, height, dpi, kind="srgb"):
    if os.path.exists(path):
        data = open(path, "rb").read()
        return data[4:4 + 1796], data[4 + 1796:]
    color_space, pixel_of = RASTER_KINDS[kind]
    header = pwg_header(width, height, dpi, color_space, len(pixel_of(0, 0)))
    body = gradient_body(width, height, pixel_of)
    with open(path, "wb") as f:
        f.write(b"RaS2" + header + body)
    return header, body


def banded_gray_cups_raster(path, width, height, dpi):
    """A CUPS raster (version 3, uncompressed) of one gray page in banded colour order:
    with one channel the order changes no byte, so every door prints it."""
    header = bytearray(pwg_header(width, height, dpi, 18, 1))
    header[0:9] = bytes(9)
    struct.pack_into(">I", header, 396, 1)  # cupsColorOrder: banded
    body = bytearray()
    for y in range(height):
        body += bytes((x * 255 // width + y) % 256 for x in range(width))
    with open(path, "wb") as f:
        f.write(b"RaS3" + bytes(header) + bytes(body))


def huge_gray_png(path, side):
    """A gray PNG of side x side white pixels, small on disk."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    packer = zlib.compressobj(9)
    row = bytes(1) + b"\xff" * side
    idat = bytearray()
    for _ in range(side):
        idat += packer.compress(row)
    idat += packer.flush()
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" +
                chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 0, 0, 0, 0)) +
                chunk(b"IDAT", bytes(idat)) + chunk(b"IEND", b""))


class CupsFilterDoor:
    """cupsfilter with the built PPD and the filter from a private ServerBin (when run
    as root, cupsfilter takes filters only from directories nobody else can write)."""

    def __init__(self, args):
        self.args = args
        self.root = tempfile.mkdtemp(prefix="inkrow-cupsfilter-")
        os.chmod(self.root, 0o755)
        serverbin = os.path.join(self.root, "serverbin", "filter")
        os.makedirs(serverbin)
        os.chmod(os.path.dirname(serverbin), 0o755)
        os.chmod(serverbin, 0o755)
        system = run(["cups-config", "--serverbin"], check=False).stdout.decode().strip()
        system = system or "/usr/lib/cups"
        for name in os.listdir(os.path.join(system, "filter")):
            os.symlink(os.path.join(system, "filter", name), os.path.join(serverbin, name))
        target = os.path.join(serverbin, "rastertoinkrow")
        shutil.copy(args.filter, target)
        os.chmod(target, 0o755)
        self.conf = os.path.join(self.root, "cups-files.conf")
        with open(self.conf, "w") as f:
            f.write("ServerBin %s\n" % os.path.dirname(serverbin))

    def print(self, path, mime, options, output):
        """Returns (exit status, the filter's messages)."""
        argv = [self.args.cupsfilter, "-c", self.conf, "-p", self.args.ppd, "-e",
                "-m", "printer/inkrow", "-i", mime]
        for option in options:
            argv += ["-o", option]
        with open(output, "wb") as out:
            result = subprocess.run(argv + [path], stdout=out, stderr=subprocess.PIPE,
                                    timeout=remaining(120))
        return result.returncode, result.stderr.decode(errors="replace")

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


def gradient_urf(path, width, height, dpi):
    """The same picture as Apple raster: 24-bit sRGB, one page."""
    header = bytearray(32)
    header[0] = 24  # bits per pixel
    header[1] = 1   # sRGB
    header[2] = 1   # one-sided
    header[3] = 4   # normal quality
    struct.pack_into(">III", header, 12, width, height, dpi)
    with open(path, "wb") as f:
        f.write(b"UNIRAST\0" + struct.pack(">I", 1) + bytes(header) +
                gradient_body(width, height, RASTER_KINDS["srgb"][1]))


# ---- Processes ------------------------------------------------------------------------

def run(argv, timeout=30, check=True, env=None, input_bytes=None):
    try:
        result = subprocess.run(argv, capture_output=True, timeout=remaining(timeout), env=env,
                                input=input_bytes)
    except subprocess.TimeoutExpired:
        raise Failure("timed out: " + " ".join(argv))
    if check and result.returncode != 0:
        raise Failure("%s exited with %d:\n%s%s" % (
            " ".join(argv), result.returncode, result.stdout.decode(errors="replace"),
            result.stderr.decode(errors="replace")))
    return result


def stop_process(process, name, grace=10):
    if process is None or process.poll() is not None:
        return
    try:
        os.killpg(process.pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    try:
        process.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        log("%s did not stop in %d s; killing it" % (name, grace))
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait(timeout=10)



def run_in_work_directory(args, prefix, body):
    """Runs body(work, apps) in a new work directory under /tmp that the unprivileged
    server can write, with ctest's timeout and ^C turned into a failure, and returns the
    exit status. body appends each App it starts to apps (they are stopped at the end,
    and the last one's log shown on a failure) and returns None or a reason to skip."""
    def interrupted(number, frame):
        raise Failure("interrupted by signal %d" % number)

    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(number, interrupted)
    work = tempfile.mkdtemp(prefix=prefix, dir="/tmp")
    os.chmod(work, 0o777)
    apps = []
    failed = True
    started = time.monotonic()
    try:
        skip = body(work, apps)
        failed = False
        if skip:
            log("SKIP: " + skip)
            return SKIP
        log("PASS in %.0f s" % (time.monotonic() - started))
        return 0
    except Failure as failure:
        log("FAIL: %s" % failure)
        if apps:
            log("---- application log (last lines) ----\n" + apps[-1].log_tail())
        return 1
    finally:
        for app in apps:
            app.stop()
        if args.keep or failed:
            log("work files kept in " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)

class App:
    """A private instance of the printer application and its sub-commands."""

    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.port = free_port()
        self.state = os.path.join(work, "state")
        self.logfile = os.path.join(self.state, "inkrow-printer-app.log")
        self.server = None
        self.prefix = []
        if os.geteuid() == 0:
            nobody = pwd.getpwnam("nobody")
            self.prefix = ["setpriv", "--reuid=%d" % nobody.pw_uid,
                           "--regid=%d" % nobody.pw_gid, "--clear-groups"]
        self.binary = self._install_binary(args.app)
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": work,
            "LANG": "C",
            "INKROW_STATE_DIR": self.state,
            "INKROW_PORT": str(self.port),
            "INKROW_LOG_LEVEL": "info",
            # file: devices write only here (the tests' output directory, the one made
            # unwritable, and a device that is always full).
            "INKROW_OUTPUT_DIRS": ":".join((os.path.join(work, "out"),
                                            os.path.join(work, "blocked"), "/dev/full")),
        }
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "LD_LIBRARY_PATH"):
            if name in os.environ:
                self.env[name] = os.environ[name]
        # Under LeakSanitizer, the frameworks' own leaks are not the application's.
        suppressions = os.path.join(work, "lsan.supp")
        shutil.copy(os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan.supp"),
                    suppressions)
        os.chmod(suppressions, 0o644)
        self.env["LSAN_OPTIONS"] = ":".join(
            p for p in (self.env.get("LSAN_OPTIONS"), "suppressions=" + suppressions) if p)
        if self.libdir:
            self.env["LD_LIBRARY_PATH"] = ":".join(
                p for p in (self.libdir, self.env.get("LD_LIBRARY_PATH")) if p)

    def _install_binary(self, app):
        """The build tree may be closed to "nobody": run a copy, with its own libraries."""
        self.libdir = None
        if not self.prefix:
            return app
        bindir = os.path.join(self.work, "bin")
        os.makedirs(bindir, exist_ok=True)
        copy = os.path.join(bindir, os.path.basename(app))
        shutil.copy2(app, copy)
        os.chmod(copy, 0o755)
        libs = run(["ldd", app], check=False).stdout.decode()
        build_root = os.path.dirname(os.path.dirname(os.path.abspath(app)))
        for path in re.findall(r"=> (\S+)", libs):
            if os.path.abspath(path).startswith(build_root):
                shutil.copy2(path, os.path.join(bindir, os.path.basename(path)))
                self.libdir = bindir
        os.chmod(bindir, 0o755)
        return copy

    def command(self, *argv, timeout=30, check=True):
        return run(self.prefix + [self.binary, *argv], timeout=timeout, check=check,
                   env=self.env)

    def start(self):
        self.server_out = open(os.path.join(self.work, "server.out"), "wb")
        self.server = subprocess.Popen(self.prefix + [self.binary, "server"], env=self.env,
                                       stdout=self.server_out, stderr=subprocess.STDOUT,
                                       start_new_session=True)
        end = time.monotonic() + remaining(20)
        while time.monotonic() < end:
            if self.server.poll() is not None:
                raise Failure("the server exited with %d:\n%s" % (
                    self.server.returncode, open(self.server_out.name).read()))
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                    pass
                sockets = [n for n in os.listdir(self.state) if n.endswith(".sock")]
                if sockets:
                    return
            except OSError:
                pass
            time.sleep(0.1)
        raise Failure("the server did not start listening on port %d" % self.port)

    def shutdown(self):
        self.command("shutdown", timeout=20)
        try:
            status = self.server.wait(timeout=remaining(30))
        except subprocess.TimeoutExpired:
            raise Failure("the server did not stop after the shutdown sub-command")
        if status != 0:
            raise Failure("the server exited with status %d" % status)

    def stop(self):
        stop_process(self.server, "the printer application")

    def stop_checked(self):
        """Stops the server and fails on anything the sanitizers reported meanwhile."""
        self.stop()
        report = open(os.path.join(self.work, "server.out"), errors="replace").read()
        if re.search(r"Sanitizer|runtime error", report):
            raise Failure("the sanitizers reported:\n" + report[-4000:])

    def log_offset(self):
        """Where the log ends now: its file (PAPPL renames a full log to NAME.O and starts
        a new one; the server keeps the older ones as NAME.1 to NAME.5) and the size."""
        try:
            info = os.stat(self.logfile)
            return (info.st_ino, info.st_size)
        except OSError:
            return (None, 0)

    def log_since(self, offset):
        inode, size = offset
        text = b""
        try:
            if inode is not None and os.stat(self.logfile).st_ino != inode:
                # The server moves NAME.O on to NAME.1 (its history) within a second.
                for old in (self.logfile + ".O", self.logfile + ".1"):
                    if os.path.exists(old) and os.stat(old).st_ino == inode:
                        with open(old, "rb") as f:
                            f.seek(size)
                            text = f.read()
                        break
                size = 0
        except OSError:
            size = 0
        with open(self.logfile, "rb") as f:
            f.seek(size)
            text += f.read()
        return text.decode(errors="replace")

    def log_tail(self, lines=60):
        try:
            text = [line for line in open(self.logfile, errors="replace").read().splitlines()
                    if "[Client " not in line]
        except OSError:
            return "(no log)"
        return "\n".join(text[-lines:])

    def add_printer(self, name, driver, device_uri):
        self.command("add", "-d", name, "-m", driver, "-v", device_uri)

    def submit(self, printer, path, title, options=(), check=True):
        argv = ["submit", "-d", printer, "-t", title]
        for option in options:
            argv += ["-o", option]
        result = self.command(*argv, path, check=check)
        match = re.search(r"-(\d+)\s*$", result.stdout.decode())
        if not match:
            if check:
                raise Failure("submit printed no job id: %r %r" % (result.stdout, result.stderr))
            return None, result
        return int(match.group(1)), result

    def job_state(self, printer, job_id):
        out = self.command("jobs", "-d", printer).stdout.decode()
        for line in out.splitlines():
            fields = line.split()
            if len(fields) >= 2 and fields[0] == str(job_id):
                return fields[1]
        return None

    def wait_job(self, printer, job_id, limit=60,
                 states=("completed", "canceled", "aborted")):
        end = time.monotonic() + remaining(limit)
        state = None
        while time.monotonic() < end:
            state = self.job_state(printer, job_id)
            if state in states:
                return state
            time.sleep(0.05)
        raise Failure("job %s-%d still %s after %d s" % (printer, job_id, state, limit))

    def wait_idle(self, printer, limit=60):
        end = time.monotonic() + remaining(limit)
        while time.monotonic() < end:
            out = self.command("jobs", "-d", printer).stdout.decode()
            if not re.search(r"\b(pending|processing|held)\b", out):
                return
            time.sleep(0.1)
        raise Failure("printer %s still busy" % printer)

    def web_get(self, path):
        url = "http://127.0.0.1:%d%s" % (self.port, path)
        try:
            with urllib.request.urlopen(url, timeout=remaining(15)) as response:
                return response.status, response.read().decode(errors="replace")
        except urllib.error.HTTPError as error:
            return error.code, ""
        except (OSError, http.client.HTTPException) as error:
            raise Failure("GET %s failed: %s" % (path, error))

    def web_post(self, path, fields):
        """Posts a form; returns the status, the Location header and the page."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=remaining(15))
        try:
            connection.request("POST", path, urllib.parse.urlencode(fields),
                               {"Content-Type": "application/x-www-form-urlencoded"})
            response = connection.getresponse()
            return (response.status, response.getheader("Location", ""),
                    response.read().decode(errors="replace"))
        except (OSError, http.client.HTTPException) as error:
            raise Failure("POST %s failed: %s" % (path, error))
        finally:
            connection.close()


# ---- Checks ---------------------------------------------------------------------------

MODE_LINE = re.compile(r"\[Job (\d+)\] Print mode: quality (\d+), media (\d+), inks (\w+)"
                       r"(?: \(sixteen-ink split\))?, (\d+) dpi[^,\n]*(, black only|, gray)?")


def job_mode(text, job_id):
    for match in MODE_LINE.finditer(text):
        if int(match.group(1)) == job_id:
            return {"quality": int(match.group(2)), "media": int(match.group(3)),
                    "inks": match.group(4), "resolution": int(match.group(5)),
                    "black_only": match.group(6) == ", black only",
                    "gray": match.group(6) is not None}
    raise Failure("no print mode logged for job %d" % job_id)


def decode(args, stream, mode, png_dir=None):
    """Reads a stream back strictly; returns the summary's pages as (lines, inks)."""
    argv = [args.decode, "--no-listing", "--quality", str(mode["quality"]),
            "--media", str(mode["media"])]
    if mode["black_only"]:
        argv.append("--black-only")
    if png_dir:
        os.makedirs(png_dir, exist_ok=True)
        argv += ["--png", png_dir]
    result = run(argv + [stream], check=False, timeout=60)
    if result.returncode != 0:
        raise Failure("inkrow-decode rejected %s:\n%s" % (
            stream, result.stderr.decode(errors="replace")[-2000:]))
    pages = []
    for line in result.stdout.decode().splitlines():
        page = re.match(r"page \d+ at \d+: (\d+) lines per row, (\d+) lines", line)
        if page:
            pages.append({"lines_per_row": int(page.group(1)), "lines": int(page.group(2)),
                          "inks": []})
        ink = re.match(r"\s+ink (\S+)", line)
        if ink and pages:
            pages[-1]["inks"].append(ink.group(1))
    return pages


def same_bytes(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        return fa.read() == fb.read()


def compare_planes(args, mine, reference, mode, work):
    """Where two streams differ, says which decoded ink pictures differ."""
    left = os.path.join(work, "planes-app")
    right = os.path.join(work, "planes-reference")
    shutil.rmtree(left, ignore_errors=True)
    shutil.rmtree(right, ignore_errors=True)
    decode(args, mine, mode, left)
    decode(args, reference, mode, right)
    names = sorted(set(os.listdir(left)) | set(os.listdir(right)))
    differing = [n for n in names if not (os.path.exists(os.path.join(left, n)) and
                                          os.path.exists(os.path.join(right, n)) and
                                          same_bytes(os.path.join(left, n),
                                                     os.path.join(right, n)))]
    return differing


def expect_identical_to_reference(args, work, stream, source, mode, page_size, gray):
    """The application's stream must equal inkrow-print's on the same input (both drive
    the print layer; inkrow-print without PAPPL)."""
    reference = stream + ".reference"
    tool = args.print
    argv = [tool, "--quality", str(mode["quality"]), "--media", str(mode["media"]),
            "--resolution", str(mode["resolution"]), "--output", reference]
    if mode["black_only"]:
        argv.append("--black-only")
    if page_size:
        argv += ["--paper", "%dx%d" % page_size]
    if gray:
        argv.append("--gray")
    run(argv + [source], timeout=120)
    if not same_bytes(stream, reference):
        differing = compare_planes(args, stream, reference, mode, work)
        raise Failure("%s differs from %s's stream (%d vs %d bytes); decoded pictures that "
                      "differ: %s" % (
                          stream, os.path.basename(tool), os.path.getsize(stream),
                          os.path.getsize(reference),
                          ", ".join(differing) or "none (only the coding differs)"))


class Suite:
    def __init__(self, args):
        self.args = args
        self.work = tempfile.mkdtemp(prefix="inkrow-app-", dir="/tmp")
        os.chmod(self.work, 0o777)
        self.inputs = os.path.join(self.work, "in")
        self.out = os.path.join(self.work, "out")
        for directory in (self.inputs, self.out, os.path.join(self.work, "blocked")):
            os.makedirs(directory)
            os.chmod(directory, 0o777)
        self.app = App(args, self.work)
        self.cupsd = None
        self.passed = []
        self.timings = []

    # -- helpers --

    def input_file(self, name):
        return os.path.join(self.inputs, name)

    def stream_of(self, title, directory=None):
        """The job's output file: JOB-ID-TITLE.prn, or .prn.partial while it is incomplete
        (a canceled or failed job keeps that name)."""
        directory = directory or self.out
        pattern = re.compile(r"\d+-%s\.prn(\.partial)?$" % re.escape(title))
        names = [n for n in os.listdir(directory) if pattern.match(n)]
        return os.path.join(directory, sorted(names)[-1] if names else title + ".prn")

    def check(self, condition, message):
        if not condition:
            raise Failure(message)

    def printed(self, printer, job_id, title, offset, limit=90):
        """Waits for a job that must print; returns its stream, mode and log."""
        state = self.app.wait_job(printer, job_id, limit)
        text = self.app.log_since(offset)
        self.check(state == "completed", "job %s-%d ended %s:\n%s" % (
            printer, job_id, state, text[-3000:]))
        stream = self.stream_of(title)
        self.check(os.path.exists(stream), "no output file " + stream)
        mode = job_mode(text, job_id)
        pages = decode(self.args, stream, mode)
        self.check(len(pages) >= 1, "no page in " + stream)
        return stream, mode, pages, text

    def ipptool(self, printer, path, title, mime, quality="normal", color_mode="color",
                resolution="600dpi", media="iso_a4_210x297mm"):
        uri = "ipp://127.0.0.1:%d/ipp/print/%s" % (self.app.port, printer)
        result = run(["ipptool", "-t", "-f", path, "-d", "format=" + mime,
                      "-d", "job_name=" + title,
                      "-d", "quality=%d" % {"draft": 3, "normal": 4, "high": 5}[quality],
                      "-d", "color_mode=" + color_mode, "-d", "resolution=" + resolution,
                      "-d", "media=" + media, uri, self.args.print_job_test], timeout=60,
                     check=False)
        match = re.search(r"job-id \(integer\) = (\d+)", result.stdout.decode())
        if result.returncode != 0 or not match:
            raise Failure("ipptool Print-Job failed:\n" + result.stdout.decode(errors="replace"))
        return int(match.group(1))

    def raw_print_job(self, printer, title, data_parts, between=None):
        """Print-Job over a plain HTTP connection, sending the document in parts;
        between(i) runs after part i. Returns the HTTP status line, or None when the
        connection was dropped on purpose (a part of None)."""
        uri = "ipp://127.0.0.1:%d/ipp/print/%s" % (self.app.port, printer)

        def attribute(tag, name, value):
            return (struct.pack(">BH", tag, len(name)) + name.encode() +
                    struct.pack(">H", len(value)) + value)

        request = struct.pack(">BBHI", 2, 0, 0x0002, 1) + b"\x01"
        request += attribute(0x47, "attributes-charset", b"utf-8")
        request += attribute(0x48, "attributes-natural-language", b"en")
        request += attribute(0x45, "printer-uri", uri.encode())
        request += attribute(0x42, "requesting-user-name", b"tester")
        request += attribute(0x42, "job-name", title.encode())
        request += attribute(0x49, "document-format", b"image/pwg-raster")
        request += b"\x03"
        connection = socket.create_connection(("127.0.0.1", self.app.port),
                                              timeout=remaining(30))
        try:
            connection.sendall(("POST /ipp/print/%s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n"
                                "Content-Type: application/ipp\r\n"
                                "Transfer-Encoding: chunked\r\n\r\n" % (
                                    printer, self.app.port)).encode())

            def chunk(data):
                for at in range(0, len(data), 65536):
                    piece = data[at:at + 65536]
                    connection.sendall(b"%x\r\n" % len(piece) + piece + b"\r\n")

            chunk(request)
            for i, part in enumerate(data_parts):
                if part is None:
                    connection.shutdown(socket.SHUT_RDWR)
                    return None
                chunk(part)
                if between:
                    between(i)
            connection.sendall(b"0\r\n\r\n")
            response = b""
            while b"\r\n" not in response:
                piece = connection.recv(4096)
                if not piece:
                    break
                response += piece
            return response.split(b"\r\n", 1)[0].decode(errors="replace")
        finally:
            connection.close()

    def newest_job(self, printer):
        out = self.app.command("jobs", "-d", printer).stdout.decode()
        ids = [int(line.split()[0]) for line in out.splitlines() if line.split()]
        return max(ids) if ids else None

    # -- set-up --

    def prepare_inputs(self):
        sample = self.input_file("sample.pdf")
        if os.path.exists(self.args.sample):
            shutil.copy(self.args.sample, sample)
        else:
            log("(no %s yet: making a sample PDF with ps2pdf)" % self.args.sample)
            make_pdf(sample, 1, self.work)
        if self.args.cups or self.args.measure:
            os.chmod(sample, 0o644)
            return
        make_pdf(self.input_file("three.pdf"), 3, self.work)
        page_ps = os.path.join(self.work, "page.ps")
        with open(page_ps, "w") as f:
            f.write(TEST_PAGE_PS.format(pages=1))
        ghostscript_picture(page_ps, "png16m", 40, self.input_file("picture.png"))
        ghostscript_picture(page_ps, "jpeg", 40, self.input_file("picture.jpg"))
        ghostscript_picture(page_ps, "pwgraster", 300, self.input_file("page.pwg"),
                            ["-dcupsColorSpace=19", "-dcupsBitsPerColor=8", "-dFIXEDMEDIA",
                             "-dDEVICEWIDTHPOINTS=288", "-dDEVICEHEIGHTPOINTS=432"])
        gradient_urf(self.input_file("page.urf"), 1200, 1800, 300)
        for kind in ("sgray", "black", "cmyk"):
            gradient_pwg(self.input_file(kind + ".pwg"), 600, 900, 300, kind)
        png_with_bad_crc(self.input_file("picture.png"), self.input_file("bad-crc.png"))
        data = open(sample, "rb").read()
        open(self.input_file("truncated.pdf"), "wb").write(data[:len(data) * 3 // 10])
        bad = bytearray(open(self.input_file("page.pwg"), "rb").read())
        struct.pack_into(">I", bad, 4 + 384, 5)  # five bits per colour
        open(self.input_file("bad-header.pwg"), "wb").write(bytes(bad))
        raster_pages(self.input_file("two-widths.pwg"), [(600, 300, "srgb"), (400, 300, "srgb")])
        raster_pages(self.input_file("lab.pwg"), [(300, 100, "lab")])
        raster_pages(self.input_file("too-wide.pwg"), [(40000, 2, "sgray")], dpi=600)
        ghostscript_picture_from(b"%!PS\nshowpage\n", "png16m", 20, self.input_file("white.png"),
                                 self.work)
        with open(self.input_file("no-pages.ps"), "w") as f:
            f.write("%!PS-Adobe-3.0\n% draws nothing and shows no page\n")
        for name in os.listdir(self.inputs):
            os.chmod(self.input_file(name), 0o644)

    def start_app(self):
        self.app.start()
        directory_uri = "file://%s?ext=prn" % self.out
        self.app.add_printer("photo", "inkrow-photo", directory_uri)
        self.app.add_printer("sixteen", "inkrow-sixteen", directory_uri)
        self.app.add_printer("cmyk", "inkrow-cmyk", directory_uri)
        self.app.add_printer("black", "inkrow-black", directory_uri)
        printers = self.app.command("printers").stdout.decode().split()
        self.check(sorted(printers) == ["black", "cmyk", "photo", "sixteen"],
                   "printers: %r" % printers)

    # -- tests --

    def test_web_pages(self):
        for path in ["/", "/config", "/logs", "/photo/", "/photo/media",
                     "/photo/printing", "/photo/jobs", "/photo/config", "/sixteen/printing",
                     "/black/media"]:
            status, body = self.app.web_get(path)
            self.check(status == 200, "GET %s answered %d" % (path, status))
            self.check("inkrow" in body, "GET %s has no inkrow in its page" % path)
        # The footer and the version reach the pages.
        status, body = self.app.web_get("/")
        self.check("inkrow Printer Application 0.1.0" in body, "no footer on the home page")
        # Adding a printer from the web page, and a refusal that names the cause.
        status, body = self.app.web_get("/addprinter")
        session = re.search(r'name="session" value="([0-9a-f]+)"', body)
        self.check(session is not None, "the Add Printer page has no form")
        form = {"session": session.group(1), "printer_name": "web", "device_uri": "",
                "driver_name": "inkrow-cmyk", "device_uri_text": "bogus://nowhere"}
        status, _, body = self.app.web_post("/addprinter", form)
        self.check(status == 200 and "not supported" in body,
                   "a bad device URI was not refused (%d)" % status)
        form["device_uri_text"] = "file://%s?ext=prn" % self.out
        status, location, _ = self.app.web_post("/addprinter", form)
        self.check(status == 302 and location.rstrip("/").endswith("/web"),
                   "adding a printer answered %d %s" % (status, location))
        self.check("web" in self.app.command("printers").stdout.decode().split(),
                   "the printer added on the web page is missing")

    def print_pdf_color_600(self, title, media, page_size, extra=()):
        """Prints the sample PDF in colour at 600 dpi; returns its stream, mode, pages and
        the seconds from submit to completed."""
        offset = self.app.log_offset()
        start = time.monotonic()
        job, _ = self.app.submit("photo", self.input_file("sample.pdf"), title, [
            "print-color-mode=color", "printer-resolution=600dpi", "media=" + media,
            "print-quality=normal", *extra])
        stream, mode, pages, text = self.printed("photo", job, title, offset)
        elapsed = time.monotonic() - start
        self.check((mode["quality"], mode["media"], mode["inks"], mode["resolution"]) ==
                   (10, 0, "CMYK", 600), "mode %r" % mode)
        size = re.search(r"Rendering application/pdf at (\d+)x(\d+) pixels", text)
        self.check(size is not None, "no page size logged")
        logged = (int(size.group(1)), int(size.group(2)))
        self.check(logged == page_size, "%s at 600 dpi is %r" % (media, logged))
        return stream, mode, pages, elapsed

    def ghostscript_seconds(self, page_size, pages=()):
        """Ghostscript alone on the sample: 8-bit CMYK at the same size and resolution."""
        start = time.monotonic()
        run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=cups",
             "-dcupsColorSpace=6", "-dcupsBitsPerColor=8", "-r600", *pages,
             "-g%dx%d" % page_size, "-dFIXEDMEDIA", "-dPDFFitPage", "-sOutputFile=/dev/null",
             self.input_file("sample.pdf")], timeout=60)
        return time.monotonic() - start

    def test_pdf_color_600(self):
        # 4x6 inches keeps the test quick under the sanitizers; --measure prints A4.
        page_size = (2400, 3600)
        stream, mode, pages, elapsed = self.print_pdf_color_600(
            "pdf-color-600", "na_index-4x6_4x6in", page_size)
        expect_identical_to_reference(self.args, self.work, stream,
                                      self.input_file("sample.pdf"), mode, page_size, False)
        self.timings.append("sample PDF (%d pages), 4x6 in at 600 dpi, CMYK: submit to "
                            "completed %.2f s; Ghostscript alone to 8-bit CMYK %.2f s" % (
                                len(pages), elapsed, self.ghostscript_seconds(page_size)))

    def test_measure_a4(self):
        page_size = (4960, 7015)
        _, _, pages, elapsed = self.print_pdf_color_600("a4-all", "iso_a4_210x297mm", page_size)
        self.timings.append("sample PDF (%d pages), A4 at 600 dpi, CMYK: submit to completed "
                            "%.2f s; Ghostscript alone to 8-bit CMYK %.2f s" % (
                                len(pages), elapsed, self.ghostscript_seconds(page_size)))
        # Its first page alone: the pages after it are not even rendered.
        _, _, pages, elapsed = self.print_pdf_color_600("a4-page-1", "iso_a4_210x297mm",
                                                        page_size, ["page-ranges=1-1"])
        self.check(len(pages) == 1, "page-ranges=1-1 printed %d pages" % len(pages))
        self.timings.append("sample PDF page 1, A4 at 600 dpi, CMYK: submit to completed "
                            "%.2f s; Ghostscript alone to 8-bit CMYK %.2f s" % (
                                elapsed, self.ghostscript_seconds(
                                    page_size, ["-dFirstPage=1", "-dLastPage=1"])))

    def test_pdf_sixteen_ipptool(self):
        offset = self.app.log_offset()
        title = "pdf-sixteen"
        job = self.ipptool("sixteen", self.input_file("sample.pdf"), title, "application/pdf",
                           quality="high", resolution="300dpi", media="na_index-4x6_4x6in")
        stream, mode, pages, text = self.printed("sixteen", job, title, offset)
        self.check((mode["quality"], mode["media"]) == (0, 26), "mode %r" % mode)
        self.check(len(pages[0]["inks"]) > 7, "the sixteen-ink page has inks %r" %
                   pages[0]["inks"])
        size = re.search(r"Rendering application/pdf at (\d+)x(\d+) pixels", text)
        expect_identical_to_reference(self.args, self.work, stream,
                                      self.input_file("sample.pdf"), mode,
                                      (int(size.group(1)), int(size.group(2))), False)

    def test_pdf_monochrome(self):
        offset = self.app.log_offset()
        title = "pdf-mono-300"
        job, _ = self.app.submit("photo", self.input_file("sample.pdf"), title, [
            "print-color-mode=monochrome", "printer-resolution=300dpi",
            "media=na_5x7_5x7in"])
        stream, mode, pages, text = self.printed("photo", job, title, offset)
        self.check(mode["black_only"] and mode["inks"] == "K", "mode %r" % mode)
        self.check(pages[0]["inks"] == ["K"] and pages[0]["lines_per_row"] == 8,
                   "page %r" % pages[0])
        self.check("Rendering application/pdf at 1500x2100 pixels, 300 dpi, gray" in text,
                   "5x7 in at 300 dpi in gray expected:\n" + text[-2000:])
        expect_identical_to_reference(self.args, self.work, stream,
                                      self.input_file("sample.pdf"), mode, (1500, 2100), True)

    def test_png(self):
        offset = self.app.log_offset()
        title = "png-glossy"
        job, _ = self.app.submit("photo", self.input_file("picture.png"), title, [
            "media=na_index-4x6_4x6in", "media-type=photographic-glossy",
            "printer-resolution=300dpi", "print-color-mode=color"])
        stream, mode, pages, _ = self.printed("photo", job, title, offset)
        self.check((mode["quality"], mode["media"], mode["inks"]) == (10, 27, "CMYcmk"),
                   "mode %r" % mode)
        self.check(len(pages) == 1 and len(pages[0]["inks"]) >= 3, "pages %r" % pages)
        self.png_stream = stream

    def test_jpeg_ipptool(self):
        offset = self.app.log_offset()
        title = "jpeg-black"
        job = self.ipptool("black", self.input_file("picture.jpg"), title, "image/jpeg",
                           quality="draft", color_mode="monochrome", resolution="300dpi")
        stream, mode, pages, _ = self.printed("black", job, title, offset)
        self.check((mode["quality"], mode["inks"], mode["black_only"]) == (20, "K", True),
                   "mode %r" % mode)
        self.check(pages[0]["inks"] == ["K"], "inks %r" % pages[0]["inks"])

    def test_pwg_submit(self):
        self.app.wait_idle("photo")
        offset = self.app.log_offset()
        title = "pwg-srgb"
        job, _ = self.app.submit("photo", self.input_file("page.pwg"), title)
        stream, mode, pages, _ = self.printed("photo", job, title, offset)
        self.check(mode["resolution"] == 300 and pages[0]["lines_per_row"] == 8,
                   "mode %r" % mode)
        expect_identical_to_reference(self.args, self.work, stream,
                                      self.input_file("page.pwg"), mode, None, False)

    def test_pwg_ipptool_gray(self):
        self.app.wait_idle("cmyk")
        offset = self.app.log_offset()
        title = "pwg-gray"
        job = self.ipptool("cmyk", self.input_file("sgray.pwg"), title, "image/pwg-raster",
                           resolution="300dpi")
        stream, mode, pages, _ = self.printed("cmyk", job, title, offset)
        self.check(mode["inks"] in ("CMYK", "K"), "mode %r" % mode)
        expect_identical_to_reference(self.args, self.work, stream,
                                      self.input_file("sgray.pwg"), mode, None, False)

    def test_pwg_black_and_cmyk(self):
        # Device black arrives inverted to gray, device CMYK as it is.
        for kind in ("black", "cmyk"):
            self.app.wait_idle("photo")
            offset = self.app.log_offset()
            title = "pwg-" + kind
            job, _ = self.app.submit("photo", self.input_file(kind + ".pwg"), title)
            stream, mode, _, text = self.printed("photo", job, title, offset)
            self.check(("gray input" if kind == "black" else "CMYK input") in text,
                       "%s raster: %s" % (kind, text[-1500:]))
            expect_identical_to_reference(self.args, self.work, stream,
                                          self.input_file(kind + ".pwg"), mode, None, False)

    def test_urf(self):
        self.app.wait_idle("photo")
        offset = self.app.log_offset()
        title = "urf"
        job, _ = self.app.submit("photo", self.input_file("page.urf"), title)
        _, mode, pages, _ = self.printed("photo", job, title, offset)
        self.check(mode["resolution"] == 300 and len(pages) == 1, "urf %r %r" % (mode, pages))

    def failed_job(self, printer, job_id, offset, words, state="aborted", limit=60):
        final = self.app.wait_job(printer, job_id, limit)
        text = self.app.log_since(offset)
        self.check(final == state, "job %s-%d ended %s, not %s:\n%s" % (
            printer, job_id, final, state, text[-3000:]))
        for word in words:
            self.check(word in text, "the log does not say %r:\n%s" % (word, text[-3000:]))
        return text

    def test_truncated_pdf(self):
        offset = self.app.log_offset()
        job, _ = self.app.submit("photo", self.input_file("truncated.pdf"), "bad-pdf")
        self.failed_job("photo", job, offset, ["Job stopped:", "document"])

    def test_png_bad_crc(self):
        offset = self.app.log_offset()
        job, _ = self.app.submit("photo", self.input_file("bad-crc.png"), "bad-png")
        self.failed_job("photo", job, offset, ["Job stopped:", "PNG:"])

    def test_pwg_bad_header(self):
        self.app.wait_idle("photo")
        offset = self.app.log_offset()
        job, _ = self.app.submit("photo", self.input_file("bad-header.pwg"), "bad-pwg",
                                 check=False)
        if job is None:
            job = self.newest_job("photo")
        self.failed_job("photo", job, offset, ["Bad raster data"])

    def test_pwg_truncated(self):
        self.app.wait_idle("photo")
        offset = self.app.log_offset()
        header, body = gradient_pwg(self.input_file("slow.pwg"), 1200, 1800, 300)
        self.raw_print_job("photo", "pwg-cut", [b"RaS2" + header + body[:len(body) // 2], None])
        time.sleep(0.2)
        job = self.newest_job("photo")
        self.failed_job("photo", job, offset, ["Job stopped:", "truncated"])

    def test_cancel_pwg_mid_page(self):
        self.app.wait_idle("photo")
        offset = self.app.log_offset()
        title = "pwg-cancel"
        header, body = gradient_pwg(self.input_file("slow.pwg"), 1200, 1800, 300)
        third = len(body) // 3
        state = {}

        def between(i):
            if i != 0:
                return
            # The job reads the first third, then waits for more: cancel it there.
            end = time.monotonic() + remaining(20)
            while time.monotonic() < end:
                job = self.newest_job("photo")
                if job and self.app.job_state("photo", job) == "processing" and \
                        os.path.exists(self.stream_of(title)) and \
                        os.path.getsize(self.stream_of(title)) > 0:
                    break
                time.sleep(0.05)
            time.sleep(0.3)
            state["job"] = self.newest_job("photo")
            self.app.command("cancel", "-d", "photo", "-j", str(state["job"]))

        self.raw_print_job("photo", title, [b"RaS2" + header + body[:third], body[third:]],
                           between)
        job = state.get("job")
        self.check(job is not None, "the canceled job was never seen")
        text = self.failed_job("photo", job, offset, ["Canceled on page 1"],
                               state="canceled")
        mode = job_mode(text, job)
        pages = decode(self.args, self.stream_of(title), mode)
        # A third of 1800 lines arrived before the cancel; the page ends blank after them.
        self.check(len(pages) == 1 and pages[0]["lines"] <= 1800 // 3 + 16,
                   "the canceled page reaches %r" % pages)

    def test_cancel_pdf(self):
        offset = self.app.log_offset()
        title = "pdf-cancel"
        job, _ = self.app.submit("sixteen", self.input_file("three.pdf"), title,
                                 ["printer-resolution=600dpi", "print-quality=high"])
        end = time.monotonic() + remaining(60)
        while time.monotonic() < end:
            stream = self.stream_of(title)
            if os.path.exists(stream) and os.path.getsize(stream) > 0:
                break
            self.check(self.app.job_state("sixteen", job) in ("pending", "processing"),
                       "the three-page job ended before it could be canceled")
            time.sleep(0.02)
        self.app.command("cancel", "-d", "sixteen", "-j", str(job))
        text = self.failed_job("sixteen", job, offset, ["Canceled"], state="canceled")
        self.check(re.search(r"Canceled (on page \d+ after \d+ of \d+ lines|before page)", text),
                   "no cancel point logged:\n" + text[-2000:])
        pages = decode(self.args, stream, job_mode(text, job))
        self.check(len(pages) < 3, "a canceled three-page job printed %d pages" % len(pages))

    def test_device_full(self):
        self.app.add_printer("full", "inkrow-photo", "file:///dev/full")
        offset = self.app.log_offset()
        job, _ = self.app.submit("full", self.input_file("picture.png"), "to-dev-full")
        self.failed_job("full", job, offset,
                        ["Job stopped: writing to the printer failed", "No space left on device"])
        # A blank page's stream fits in PAPPL's write buffer: only its last flush fails, and
        # only the device's count of bytes written tells.
        offset = self.app.log_offset()
        job, _ = self.app.submit("full", self.input_file("white.png"), "blank-to-dev-full")
        self.failed_job("full", job, offset, ["Job stopped: the printer took 0 of the"])
        # A raw stream meets the same check.
        offset = self.app.log_offset()
        job, _ = self.app.submit("full", self.png_stream, "raw-to-dev-full",
                                 ["document-format=application/vnd.inkrow"])
        self.failed_job("full", job, offset, ["Job stopped: writing to the printer failed"])

    def test_raw_stream(self):
        # A stream already in the printer's language goes to the device unchanged.
        offset = self.app.log_offset()
        title = "raw-copy"
        job, _ = self.app.submit("photo", self.png_stream, title,
                                 ["document-format=application/vnd.inkrow"])
        state = self.app.wait_job("photo", job, 30)
        self.check(state == "completed", "the raw job ended %s:\n%s" % (
            state, self.app.log_since(offset)[-2000:]))
        self.check(same_bytes(self.stream_of(title), self.png_stream),
                   "the raw job's output differs from its input")

    def test_pwg_two_widths(self):
        # A page of another width gets a render job of its own; the stream stays one
        # sequence of pages, the same as the render library makes on its own.
        self.app.wait_idle("photo")
        offset = self.app.log_offset()
        title = "pwg-two-widths"
        job, _ = self.app.submit("photo", self.input_file("two-widths.pwg"), title)
        stream, mode, pages, text = self.printed("photo", job, title, offset)
        self.check(len(pages) == 2 and "starting a new render job" in text,
                   "two widths: %r\n%s" % (pages, text[-1500:]))
        expect_identical_to_reference(self.args, self.work, stream,
                                      self.input_file("two-widths.pwg"), mode, None, False)

    def test_unprintable_documents(self):
        for name, words in (("lab.pwg", ["colour space 15", "is not supported"]),
                            ("too-wide.pwg", ["width of 40000 pixels", "1 .. 32767"]),
                            ("no-pages.ps", ["no pages"])):
            self.app.wait_idle("photo")
            offset = self.app.log_offset()
            job, _ = self.app.submit("photo", self.input_file(name), "bad-" + name)
            self.failed_job("photo", job, offset, ["Job stopped:"] + words)

    def test_directory_unwritable(self):
        blocked = os.path.join(self.work, "blocked")
        os.chmod(blocked, 0o777)
        self.app.add_printer("blocked", "inkrow-photo", "file://%s?ext=prn" % blocked)
        os.chmod(blocked, 0o555)  # the printer's output directory becomes unwritable
        offset = self.app.log_offset()
        job, _ = self.app.submit("blocked", self.input_file("picture.png"), "blocked-job")
        end = time.monotonic() + remaining(30)
        while time.monotonic() < end:
            if "Unable to open device" in self.app.log_since(offset):
                break
            time.sleep(0.1)
        self.app.command("cancel", "-d", "blocked", "-j", str(job))
        self.failed_job("blocked", job, offset, ["Permission denied", "Unable to open device"],
                        state="canceled", limit=30)
        os.chmod(blocked, 0o777)
        offset = self.app.log_offset()
        job, _ = self.app.submit("blocked", self.input_file("picture.png"), "unblocked-job")
        state = self.app.wait_job("blocked", job, 60)
        self.check(state == "completed", "after the directory opened again the job ended " +
                   state + ":\n" + self.app.log_since(offset)[-2000:])
        self.check(os.path.getsize(self.stream_of("unblocked-job", blocked)) > 0,
                   "no output after the directory opened again")

    def test_next_job_prints(self):
        # After all the failures the same job prints the very same stream as before.
        offset = self.app.log_offset()
        title = "png-again"
        job, _ = self.app.submit("photo", self.input_file("picture.png"), title, [
            "media=na_index-4x6_4x6in", "media-type=photographic-glossy",
            "printer-resolution=300dpi", "print-color-mode=color"])
        stream, _, _, _ = self.printed("photo", job, title, offset)
        self.check(same_bytes(stream, self.png_stream),
                   "the same PNG job printed a different stream the second time")

    def test_three_doors(self):
        """The same documents with the same settings through the application, the CUPS
        filter (cupsfilter with the PPD) and inkrow-print: byte-identical streams; a
        refused document is refused with the same words by all three."""
        if not (self.args.cupsfilter and self.args.ppd and self.args.filter):
            log("(no cupsfilter or PPD: the three-door comparison is skipped)")
            return
        banded = self.input_file("banded-gray.ras")
        banded_gray_cups_raster(banded, 600, 450, 300)
        os.chmod(banded, 0o644)
        documents = (  # file, gray, MIME type for cupsfilter
            ("sample.pdf", False, "application/pdf"),
            ("picture.png", False, "image/png"),
            ("sgray.pwg", True, "image/pwg-raster"),
            ("page.pwg", False, "image/pwg-raster"),
            ("cmyk.pwg", False, "image/pwg-raster"),
            ("banded-gray.ras", True, "application/vnd.cups-raster"),
        )
        cups = CupsFilterDoor(self.args)
        try:
            for name, gray, mime in documents:
                path = self.input_file(name)
                title = "door-" + name.replace(".", "-")
                self.app.wait_idle("photo")
                offset = self.app.log_offset()
                job, _ = self.app.submit("photo", path, title, [
                    "media=na_index-4x6_4x6in", "printer-resolution=300dpi",
                    "print-quality=normal", "media-type=stationery",
                    "print-color-mode=" + ("monochrome" if gray else "color")])
                app_stream, mode, _, _ = self.printed("photo", job, title, offset)
                self.check((mode["quality"], mode["media"], mode["black_only"]) ==
                           (10, 0, gray), "%s: mode %r" % (name, mode))
                tool_stream = app_stream + ".inkrow-print"
                run([self.args.print, "--quality", "10", "--media", "0", "--resolution",
                     "300", "--paper", "4x6", "--output", tool_stream] +
                    (["--black-only"] if gray else []) + [path], timeout=120)
                cups_stream = app_stream + ".cupsfilter"
                status, messages = cups.print(path, mime, [
                    "PageSize=4x6", "Resolution=300dpi", "cupsPrintQuality=Normal",
                    "MediaType=Plain", "ColorModel=" + ("Gray" if gray else "CMYK")],
                    cups_stream)
                self.check(status == 0, "%s: cupsfilter failed:\n%s" % (name, messages[-2000:]))
                for door, stream in (("inkrow-print", tool_stream), ("cupsfilter", cups_stream)):
                    self.check(same_bytes(app_stream, stream),
                               "%s: the application's stream (%d bytes) differs from %s's "
                               "(%d bytes)" % (name, os.path.getsize(app_stream), door,
                                               os.path.getsize(stream)))

            # The refused document: a CIE Lab raster.
            path = self.input_file("lab.pwg")
            self.app.wait_idle("photo")
            offset = self.app.log_offset()
            job, _ = self.app.submit("photo", path, "door-refused")
            text = self.failed_job("photo", job, offset, ["Job stopped:"])
            app_words = re.search(r"Job stopped: (.*)", text).group(1).strip()
            result = run([self.args.print, "--output", os.path.join(self.work, "refused.prn"),
                          path], check=False, timeout=60)
            tool_words = re.search(r"inkrow-print: " + re.escape(path) + r": (.*)",
                                   result.stderr.decode()).group(1).strip()
            status, messages = cups.print(path, "image/pwg-raster", [],
                                          os.path.join(self.work, "refused-cups.prn"))
            cups_words = re.search(r"ERROR: (page .*)", messages).group(1).strip()
            self.check(result.returncode == 1 and status != 0,
                       "the refused document printed somewhere")
            self.check(app_words == tool_words == cups_words,
                       "the refusals differ:\n  app: %s\n  inkrow-print: %s\n  cupsfilter: %s" %
                       (app_words, tool_words, cups_words))
            self.check("colour space" in app_words, "refused with: " + app_words)
        finally:
            cups.close()

    def test_huge_png(self):
        """A gray PNG of 20000 x 20000 pixels aborts its job at once with a reason; the
        printer then takes the next job."""
        path = self.input_file("huge.png")
        huge_gray_png(path, 20000)
        os.chmod(path, 0o644)
        self.app.wait_idle("photo")
        offset = self.app.log_offset()
        job, _ = self.app.submit("photo", path, "huge-png")
        self.failed_job("photo", job, offset, ["Job stopped:", "too large to print"], limit=30)
        offset = self.app.log_offset()
        job, _ = self.app.submit("photo", self.input_file("picture.png"), "after-huge", [
            "media=na_index-4x6_4x6in", "media-type=photographic-glossy",
            "printer-resolution=300dpi", "print-color-mode=color"])
        stream, _, _, _ = self.printed("photo", job, "after-huge", offset)
        self.check(same_bytes(stream, self.png_stream),
                   "the job after the huge picture printed a different stream")

    # -- CUPS --

    def start_cupsd(self):
        if not shutil.which("cupsd") or not shutil.which("lpadmin"):
            raise SkipTest("cupsd or lpadmin is not installed")
        root = os.path.join(self.work, "cups")
        for sub in ("", "spool", "spool/tmp", "log", "run", "cache", "ppd"):
            os.makedirs(os.path.join(root, sub), exist_ok=True)
        os.chmod(root, 0o755)
        self.cups_port = free_port()
        with open(os.path.join(root, "cupsd.conf"), "w") as f:
            f.write("LogLevel debug\nListen 127.0.0.1:%d\nBrowsing Off\n"
                    "BrowseLocalProtocols none\nDefaultAuthType None\nWebInterface No\n"
                    "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                    "<Policy default>\n  <Limit All>\n    Order deny,allow\n    Allow all\n"
                    "  </Limit>\n</Policy>\n" % self.cups_port)
        with open(os.path.join(root, "cups-files.conf"), "w") as f:
            f.write("ServerRoot %s\nRequestRoot %s/spool\nTempDir %s/spool/tmp\n"
                    "StateDir %s/run\nCacheDir %s/cache\nErrorLog %s/log/error_log\n"
                    "AccessLog %s/log/access_log\nPageLog %s/log/page_log\n"
                    "Sandboxing Relaxed\n" % ((root,) * 8))
        self.cups_root = root
        self.cups_env = dict(os.environ, CUPS_SERVER="127.0.0.1:%d" % self.cups_port)
        self.cupsd = subprocess.Popen(
            ["cupsd", "-f", "-c", os.path.join(root, "cupsd.conf"),
             "-s", os.path.join(root, "cups-files.conf")],
            stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT, start_new_session=True)
        end = time.monotonic() + remaining(20)
        while time.monotonic() < end:
            if self.cupsd.poll() is not None:
                raise Failure("cupsd exited with %d:\n%s" % (
                    self.cupsd.returncode, self.cups_log()))
            if run(["lpstat", "-r"], env=self.cups_env, check=False).returncode == 0:
                return
            time.sleep(0.2)
        raise Failure("cupsd did not start:\n" + self.cups_log())

    def cups_log(self):
        try:
            return open(os.path.join(self.cups_root, "log", "error_log"),
                        errors="replace").read()[-20000:]
        except OSError:
            return "(no cupsd log)"

    def test_cups_driverless(self):
        self.start_cupsd()
        self.app.add_printer("cupsdest", "inkrow-photo", "file://%s?ext=prn" % self.out)
        uri = "ipp://127.0.0.1:%d/ipp/print/cupsdest" % self.app.port
        result = run(["lpadmin", "-p", "q", "-E", "-v", uri, "-m", "everywhere"],
                     env=self.cups_env, timeout=60, check=False)
        self.check(result.returncode == 0, "lpadmin -m everywhere failed: %s\n%s" % (
            result.stderr.decode(errors="replace"), self.cups_log()))
        # cupsd makes the queue's PPD from the printer's attributes after lpadmin returns;
        # a job queued before that has no filters and is aborted.
        end = time.monotonic() + remaining(30)
        while 'Printer "q" is now available' not in self.cups_log():
            if time.monotonic() > end:
                raise Failure("cupsd never finished the driverless queue:\n" + self.cups_log())
            time.sleep(0.1)
        offset = self.app.log_offset()
        run(["lp", "-d", "q", "-t", "through-cups", self.input_file("sample.pdf")],
            env=self.cups_env, timeout=30)
        end = time.monotonic() + remaining(90)
        job = None
        while time.monotonic() < end:
            job = self.newest_job("cupsdest")
            if job and self.app.job_state("cupsdest", job) in ("completed", "aborted",
                                                                 "canceled"):
                break
            time.sleep(0.2)
        else:
            raise Failure("the CUPS job never reached the application:\n" + self.cups_log())
        text = self.app.log_since(offset)
        state = self.app.job_state("cupsdest", job)
        self.check(state == "completed", "the CUPS job ended %s:\n%s" % (state, text[-3000:]))
        mode = job_mode(text, job)
        streams = [n for n in os.listdir(self.out) if n.endswith(".prn")]
        self.check(len(streams) == 1, "streams from CUPS: %r" % streams)
        pages = decode(self.args, os.path.join(self.out, streams[0]), mode)
        impressions = re.search(r"\[Job %d\] Completed, job-impressions-completed=(\d+)" % job,
                                text)
        self.check(impressions and len(pages) == int(impressions.group(1)) and pages,
                   "the CUPS job's stream has %d pages, its log says %s" % (
                       len(pages), impressions.group(0) if impressions else "nothing"))
        format_line = re.search(r"Rendering (\S+) at (\d+)x(\d+) pixels", text)
        log("CUPS sent %s; print mode %r" % (
            format_line.group(1) if format_line else "raster", mode))

    def stop_cupsd(self):
        stop_process(self.cupsd, "cupsd")

    def run(self):
        self.prepare_inputs()
        self.start_app()
        if self.args.cups:
            tests = [self.test_cups_driverless]
        elif self.args.measure:
            tests = [self.test_measure_a4]
        else:
            tests = [self.test_web_pages, self.test_pdf_color_600, self.test_pdf_sixteen_ipptool,
                     self.test_pdf_monochrome, self.test_png, self.test_jpeg_ipptool,
                     self.test_pwg_submit, self.test_pwg_ipptool_gray,
                     self.test_pwg_black_and_cmyk, self.test_urf,
                     self.test_raw_stream, self.test_pwg_two_widths,
                     self.test_truncated_pdf, self.test_png_bad_crc, self.test_pwg_bad_header,
                     self.test_unprintable_documents,
                     self.test_pwg_truncated, self.test_cancel_pwg_mid_page,
                     self.test_cancel_pdf, self.test_device_full,
                     self.test_directory_unwritable, self.test_next_job_prints,
                     self.test_huge_png, self.test_three_doors]
        for test in tests:
            started = time.monotonic()
            test()
            log("ok   %-28s %.1f s" % (test.__name__[5:], time.monotonic() - started))
        self.stop_cupsd()
        self.app.shutdown()
        for line in self.timings:
            log("timing: " + line)

    def clean(self, keep):
        self.stop_cupsd()
        self.app.stop()
        if keep:
            log("work files kept in " + self.work)
        else:
            shutil.rmtree(self.work, ignore_errors=True)


class SkipTest(Exception):
    pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--app", required=True)
    parser.add_argument("--decode", required=True)
    parser.add_argument("--print", required=True, help="inkrow-print, to compare with")
    parser.add_argument("--cupsfilter", help="cupsfilter, for the CUPS door")
    parser.add_argument("--ppd", help="the built PPD")
    parser.add_argument("--filter", help="rastertoinkrow")
    parser.add_argument("--sample", required=True)
    parser.add_argument("--work", help="unused; work files go to a short /tmp path")
    parser.add_argument("--cups", action="store_true", help="print through a private cupsd")
    parser.add_argument("--measure", action="store_true",
                        help="only time the sample PDF on A4 at 600 dpi against Ghostscript")
    parser.add_argument("--keep", action="store_true", help="keep the work files")
    args = parser.parse_args()
    args.print_job_test = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                       "print-job.test")
    for tool in ("gs", "ps2pdf", "ipptool"):
        if not shutil.which(tool):
            log("SKIP: %s is not installed" % tool)
            return SKIP
    if os.geteuid() == 0 and not shutil.which("setpriv"):
        log("SKIP: setpriv is needed to run the application unprivileged")
        return SKIP

    suite = Suite(args)
    failed = False
    # A signal (ctest's timeout, ^C) still stops everything this test started.
    def interrupted(number, frame):
        raise Failure("interrupted by signal %d" % number)

    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(number, interrupted)
    try:
        suite.run()
    except SkipTest as skip:
        log("SKIP: %s" % skip)
        suite.clean(args.keep)
        return SKIP
    except Failure as failure:
        failed = True
        log("FAIL: %s" % failure)
        log("---- application log (last lines) ----\n" + suite.app.log_tail())
    finally:
        suite.clean(args.keep or failed)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
