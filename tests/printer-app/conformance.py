#!/usr/bin/env python3
"""IPP conformance of inkrow-printer-app, with the tests CUPS ships for ipptool.

Starts a private instance on a loopback port (end_to_end.App), adds one printer per
driver and runs `ipptool -t` with ipp-everywhere.test, ipp-1.1.test, ipp-2.0.test,
get-printer-attributes-suite.test and the print-job*/create-job* tests against each,
with sample documents made here by Ghostscript (PDF, PostScript, JPEG, and PWG raster in
black_1, sgray_8, srgb_8 and cmyk_8 at 300 dpi, which ipp-everywhere.test prints too).
Every test must pass, and printer-claims.test (here) too. Left out, each for its reason (LEFT_OUT): the media-needed test
waits for a person to load paper; create-job-timeout asks for CUPS's own banner pages
(job-sheets "unclassified") and reads a file of the CUPS source tree.

It also prints a 1-bit black page and the same page in 8-bit black through the
black and the photo driver, compressed with deflate and gzip: each pair must give the
very same stream (PAPPL hands the 1-bit lines over under an 8-bit header).

Exit status: 0 passed, 1 failed, 77 skipped (a tool it needs is missing).
"""

import argparse
import glob
import os
import re
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import end_to_end  # noqa: E402
from end_to_end import App, Failure, log, run, run_in_work_directory  # noqa: E402

end_to_end.DEADLINE = time.monotonic() + 540
SKIP = 77
IPPTOOL_DIR = "/usr/share/cups/ipptool"
DRIVERS = ("black", "cmyk", "photo", "sixteen")
LEFT_OUT = {
    "print-job-media-needed.test": "waits for a person to load paper",
    "create-job-timeout.test": "CUPS's own banner pages and a file of its source tree",
}

PAGE_PS = r"""%!PS-Adobe-3.0
%%Pages: 1
%%EndComments
%%Page: 1 1
/Helvetica-Bold findfont 28 scalefont setfont
72 720 moveto (inkrow conformance page) show
0.1 0.5 0.9 setrgbcolor 72 400 200 200 rectfill
0.9 0.2 0.1 setrgbcolor 300 400 200 200 rectfill
0 setgray 72 120 moveto 500 300 lineto 8 setlinewidth stroke
showpage
%%EOF
"""

# Black and white only, so 1-bit and 8-bit rasters of it hold the same pixels.
BLACK_PS = r"""%!PS-Adobe-3.0
%%Pages: 1
%%EndComments
%%Page: 1 1
/Helvetica-Bold findfont 40 scalefont setfont
72 700 moveto (Black and white) show
72 100 300 300 rectfill
showpage
%%EOF
"""

# PWG raster kinds of the samples: name, cupsColorSpace, cupsBitsPerColor.
RASTER_KINDS = (("black-1", 3, 1), ("sgray-8", 18, 8), ("srgb-8", 19, 8), ("cmyk-8", 6, 8))


def gs(argv, output):
    run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sOutputFile=" + output] + argv,
        timeout=60)


def make_samples(directory):
    """The documents the ipptool tests name, in `directory` (their working directory)."""
    page = os.path.join(directory, "page.ps")
    with open(page, "w") as f:
        f.write(PAGE_PS)
    for paper, name in (("a4", "a4"), ("letter", "letter")):
        gs(["-sDEVICE=pdfwrite", "-sPAPERSIZE=" + paper, page],
           os.path.join(directory, "document-%s.pdf" % name))
        gs(["-sDEVICE=ps2write", "-sPAPERSIZE=" + paper, page],
           os.path.join(directory, "document-%s.ps" % name))
    gs(["-sDEVICE=jpeg", "-r30", "-sPAPERSIZE=a4", page], os.path.join(directory, "color.jpg"))
    gs(["-sDEVICE=jpeggray", "-r30", "-sPAPERSIZE=a4", page], os.path.join(directory, "gray.jpg"))
    for kind, space, bits in RASTER_KINDS:
        folder = os.path.join(directory, "pwg-raster-samples-300dpi", kind)
        os.makedirs(folder)
        gs(["-sDEVICE=pwgraster", "-r300", "-sPAPERSIZE=a4", "-dcupsColorSpace=%d" % space,
            "-dcupsBitsPerColor=%d" % bits, page],
           os.path.join(folder, "onepage-a4-%s-300dpi.pwg" % kind))
    black = os.path.join(directory, "black.ps")
    with open(black, "w") as f:
        f.write(BLACK_PS)
    for bits in (1, 8):
        gs(["-sDEVICE=pwgraster", "-r300", "-sPAPERSIZE=a4", "-dcupsColorSpace=3",
            "-dcupsBitsPerColor=%d" % bits, black],
           os.path.join(directory, "black-%d.pwg" % bits))
    for name in os.listdir(directory):
        os.chmod(os.path.join(directory, name), 0o755)


def conformance_tests(directory):
    """The CUPS test files to run, and a copy of get-printer-attributes-suite.test whose
    media-col-database request names it (the shipped file asks for 'all' there, which
    its own earlier test requires to leave media-col-database out)."""
    names = ["ipp-everywhere.test", "ipp-1.1.test", "ipp-2.0.test"]
    names += sorted(os.path.basename(p) for p in glob.glob(IPPTOOL_DIR + "/print-job*.test"))
    names += sorted(os.path.basename(p) for p in glob.glob(IPPTOOL_DIR + "/create-job*.test"))
    tests = [os.path.join(IPPTOOL_DIR, n) for n in names if n not in LEFT_OUT]
    suite = open(os.path.join(IPPTOOL_DIR, "get-printer-attributes-suite.test")).read()
    fixed, count = re.subn(
        r"(NAME \"Get-Printer-Attributes \(requested-attributes='media-col-database'\)\""
        r"[^}]*?ATTR keyword requested-attributes )'all'", r"\1media-col-database", suite)
    if count != 1:
        raise Failure("get-printer-attributes-suite.test changed: the media-col-database "
                      "request was not found")
    path = os.path.join(directory, "get-printer-attributes-suite.test")
    with open(path, "w") as f:
        f.write(fixed)
    claims = os.path.join(os.path.dirname(os.path.abspath(__file__)), "printer-claims.test")
    return tests + [path, claims]


def ipptool(uri, test, sample, work, extra=()):
    result = run(["ipptool", "-t", "-T", "30", *extra, "-f", sample, uri, test], timeout=120,
                 check=False)
    text = result.stdout.decode(errors="replace") + result.stderr.decode(errors="replace")
    failed = [line for line in text.splitlines() if "[FAIL]" in line]
    if result.returncode != 0 or failed:
        details = "\n".join(line for line in text.splitlines()
                            if re.search(r"\[FAIL\]|EXPECTED|GOT|status-code|Unable", line))
        return "%s (%s):\n%s" % (os.path.basename(test), os.path.basename(sample),
                                 details or text[-2000:])
    return None


def wait_printed(app, printer, limit=120):
    """Waits until no job of `printer` prints and its list of jobs stays the same for a
    second: the tests leave held jobs, and jobs created without their document."""
    end = time.monotonic() + end_to_end.remaining(limit)
    last, since = None, time.monotonic()
    while time.monotonic() < end:
        out = app.command("jobs", "-d", printer).stdout.decode()
        if out != last:
            last, since = out, time.monotonic()
        elif "processing" not in out and time.monotonic() - since > 1.0:
            return
        time.sleep(0.1)
    raise Failure("printer %s still printing after %d s:\n%s" % (printer, limit, last))


def newest_stream(out, before):
    streams = [n for n in os.listdir(out) if n.endswith(".prn") and n not in before]
    if len(streams) != 1:
        raise Failure("expected one new stream in %s, found %s" % (out, streams))
    return os.path.join(out, streams[0])


def print_and_wait(app, uri, test, sample, out, printer):
    """Prints with one ipptool test file and returns the bytes of the stream it made."""
    before = set(os.listdir(out))
    problem = ipptool(uri, test, sample, out)
    if problem:
        raise Failure(problem)
    wait_printed(app, printer)
    return open(newest_stream(out, before), "rb").read()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--app", required=True)
    parser.add_argument("--keep", action="store_true", help="keep the work files")
    parser.add_argument("--drivers", default=",".join(DRIVERS),
                        help="the drivers to test, comma-separated (all by default)")
    args, _ = parser.parse_known_args()
    for tool in ("gs", "ipptool"):
        if not shutil.which(tool):
            log("SKIP: %s is not installed" % tool)
            return SKIP
    if not os.path.exists(os.path.join(IPPTOOL_DIR, "ipp-everywhere.test")):
        log("SKIP: %s has no ipp-everywhere.test (Debian: cups-ipp-utils)" % IPPTOOL_DIR)
        return SKIP
    if os.geteuid() == 0 and not shutil.which("setpriv"):
        log("SKIP: setpriv is needed to run the application unprivileged")
        return SKIP

    def body(work, apps):
        out = os.path.join(work, "out")
        samples = os.path.join(work, "samples")
        for directory in (out, samples, os.path.join(work, "blocked")):
            os.makedirs(directory)
            os.chmod(directory, 0o777)
        started = time.monotonic()
        make_samples(samples)
        tests = conformance_tests(work)
        app = App(args, work)
        apps.append(app)
        app.start()
        listening = time.monotonic()
        drivers = [d for d in args.drivers.split(",") if d in DRIVERS]
        for driver in drivers:
            app.add_printer(driver, "inkrow-" + driver, "file://%s?ext=prn" % out)
        # printer-up-time must be above 0 (whole seconds since the start).
        time.sleep(max(0.0, 1.5 - (time.monotonic() - listening)))
        os.chdir(samples)
        problems = []
        for driver in drivers:
            uri = "ipp://localhost:%d/ipp/print/%s" % (app.port, driver)
            for test in tests:
                problem = ipptool(uri, test, "document-a4.pdf", samples)
                if problem:
                    problems.append("%s: %s" % (driver, problem))
            wait_printed(app, driver)
            log("%s: %d test files passed (%.0f s so far)" % (driver, len(tests) - len(
                [p for p in problems if p.startswith(driver + ":")]),
                time.monotonic() - started))
        if problems:
            raise Failure("%d test file runs failed:\n%s" % (len(problems), "\n".join(problems)))

        # 1-bit black reads as the same page in 8 bits, also compressed.
        for driver in [d for d in ("black", "photo") if d in drivers]:
            uri = "ipp://localhost:%d/ipp/print/%s" % (app.port, driver)
            streams = {}
            for bits, test in ((1, "print-job-deflate.test"), (8, "print-job-gzip.test"),
                               (1, "print-job-gzip.test")):
                data = print_and_wait(app, uri, os.path.join(IPPTOOL_DIR, test),
                                      "black-%d.pwg" % bits, out, driver)
                streams.setdefault(bits, []).append(data)
            if not all(s == streams[8][0] for s in streams[1]):
                raise Failure("%s: a 1-bit black page printed otherwise than the same page "
                              "in 8 bits" % driver)
            log("%s: 1-bit black prints as 8-bit black (deflate and gzip)" % driver)
        app.stop_checked()

    return run_in_work_directory(args, "inkrow-ipp-", body)


if __name__ == "__main__":
    sys.exit(main())
