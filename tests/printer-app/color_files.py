#!/usr/bin/env python3
"""Colour files in inkrow-printer-app: per media type an ICC profile and a calibration.

A private instance (end_to_end.App): files installed with the color-files sub-command and
with a multipart POST to the printer's "Colour Files" page; corrupt, mismatched and forged
files refused, naming the file and the reason, the installed file kept; the printer
advertising printer-icc-profiles (the profile served at its URL), the intents and the
defaults (ipptool); the same colour page printed with two intents into different
streams, "auto" as perceptual, the stream inkrow-print makes with the same files, a
printer default intent, calibration mode; a profile
damaged after it was installed aborts its job before a byte of it prints; everything
still there after a restart. Ghostscript's CMYK and RGB output profiles serve as files.

Exit status: 0 passed, 1 failed, 77 skipped (a tool it needs is missing).
"""

import argparse
import glob
import hashlib
import http.client
import os
import re
import shutil
import signal
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from end_to_end import App, Failure, log, remaining, run  # noqa: E402

SKIP = 77

ATTRIBUTES_TEST = """{
	NAME "Colour attributes"
	OPERATION Get-Printer-Attributes
	GROUP operation-attributes-tag
	ATTR charset attributes-charset utf-8
	ATTR naturalLanguage attributes-natural-language en
	ATTR uri printer-uri $uri
	STATUS successful-ok
	EXPECT printer-icc-profiles OF-TYPE collection
	EXPECT print-rendering-intent-supported OF-TYPE keyword COUNT 6
	EXPECT print-rendering-intent-supported WITH-VALUE "relative-bpc"
	EXPECT print-rendering-intent-default WITH-VALUE "$intent"
	EXPECT job-creation-attributes-supported WITH-VALUE "print-rendering-intent"
	EXPECT job-creation-attributes-supported WITH-VALUE "cm-calibration"
	EXPECT cm-calibration-default OF-TYPE boolean WITH-VALUE false
	DISPLAY printer-icc-profiles
}
"""


def calibration(rows=5, scale=0.8):
    lines = ["CAL", "", 'DESCRIPTOR "test"', 'ORIGINATOR "test"', 'DEVICE_CLASS "OUTPUT"',
             'COLOR_REP "CMYK"', "", "NUMBER_OF_FIELDS 5", "BEGIN_DATA_FORMAT",
             "CMYK_I CMYK_C CMYK_M CMYK_Y CMYK_K", "END_DATA_FORMAT", "",
             "NUMBER_OF_SETS %d" % rows, "BEGIN_DATA"]
    for r in range(rows):
        x = r / (rows - 1)
        lines.append("%.6f %.6f %.6f %.6f %.6f" % (x, x * scale, x, x, x))
    return "\n".join(lines + ["END_DATA", ""]).encode()


class Suite:
    def __init__(self, args):
        self.args = args
        self.work = tempfile.mkdtemp(prefix="inkrow-color-", dir="/tmp")
        os.chmod(self.work, 0o777)
        self.out = os.path.join(self.work, "out")
        for directory in (self.out, os.path.join(self.work, "blocked")):
            os.makedirs(directory)
            os.chmod(directory, 0o777)
        self.app = App(args, self.work)
        self.files = {}

    def file(self, name, data):
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, 0o644)
        self.files[name] = path
        return path

    def color_files(self, *argv, check=True):
        result = self.app.command("color-files", *argv, check=False)
        text = result.stdout.decode(errors="replace") + result.stderr.decode(errors="replace")
        if check and result.returncode != 0:
            raise Failure("color-files %s failed:\n%s" % (" ".join(argv), text))
        return result.returncode, text

    def post_page(self, printer, fields, files, session=True):
        """The printer's Colour Files form as a browser posts it, answered as text."""
        connection = http.client.HTTPConnection("127.0.0.1", self.app.port, timeout=remaining(15))
        try:
            token = ""
            if session:
                connection.request("GET", "/%s/color" % printer)
                page = connection.getresponse().read().decode(errors="replace")
                match = re.search(r'name="session" value="([^"]*)"', page)
                if not match:
                    raise Failure("the Colour Files page has no form:\n" + page[-2000:])
                token = match.group(1)
            boundary = "----inkrowtest%d" % os.getpid()
            body = b""
            for name, value in [("session", token), ("reply", "text")] + list(fields.items()):
                body += ("--%s\r\nContent-Disposition: form-data; name=\"%s\"\r\n\r\n%s\r\n" % (
                    boundary, name, value)).encode()
            for name, data in files.items():
                body += ("--%s\r\nContent-Disposition: form-data; name=\"%s\"; "
                         "filename=\"%s.bin\"\r\nContent-Type: application/octet-stream\r\n\r\n"
                         % (boundary, name, name)).encode() + data + b"\r\n"
            body += ("--%s--\r\n" % boundary).encode()
            connection.request("POST", "/%s/color" % printer, body,
                               {"Content-Type": "multipart/form-data; boundary=" + boundary})
            response = connection.getresponse()
            return response.status, response.read().decode(errors="replace")
        finally:
            connection.close()

    def print_page(self, printer, title, options, ranges=("page-ranges=1-1",)):
        job, _ = self.app.submit(printer, self.args.sample, title,
                                 ["printer-resolution=300dpi", "print-color-mode=color",
                                  *ranges] + options)
        state = self.app.wait_job(printer, job)
        return job, state

    def stream(self, job, title):
        path = os.path.join(self.out, "%d-%s.prn" % (job, title))
        if not os.path.exists(path):
            raise Failure("job %d left no %s: %s" % (job, path, os.listdir(self.out)))
        return open(path, "rb").read()

    def run(self):
        app = self.app
        gs_profiles = sorted(glob.glob("/usr/share/ghostscript/*/iccprofiles/default_cmyk.icc"))
        if not gs_profiles:
            raise SkipTest("Ghostscript's ICC profiles are not installed")
        cmyk = open(gs_profiles[-1], "rb").read()
        rgb = open(os.path.join(os.path.dirname(gs_profiles[-1]), "default_rgb.icc"), "rb").read()
        good_cal = calibration()
        self.file("cmyk.icc", cmyk)
        self.file("rgb.icc", rgb)
        self.file("good.cal", good_cal)
        self.file("text.icc", b"this is no profile\n")
        self.file("cut.cal", good_cal[:-60])
        app.start()
        device = "file://%s?ext=prn" % self.out
        app.add_printer("photo", "inkrow-photo", device)
        app.add_printer("mono", "inkrow-black", device)

        # Installed from the command line and through the web page.
        code, text = self.color_files("-d", "photo", "--media-type", "stationery", "--profile",
                                      self.files["cmyk.icc"], "--calibration",
                                      self.files["good.cal"])
        self.check("stationery profile calibration" in text, "listing after install:\n" + text)
        status, text = self.post_page("photo", {"media-type": "photographic-glossy"},
                                      {"profile": cmyk})
        self.check(status == 200 and "installed the ICC profile" in text,
                   "web install answered %d:\n%s" % (status, text))
        _, text = self.color_files("-d", "photo")
        self.check(re.search(r"^photographic-glossy profile -$", text, re.M),
                   "listing after the web install:\n" + text)
        installed = glob.glob(os.path.join(app.state, "color", "printer-*", "stationery.icc"))
        self.check(len(installed) == 1, "stored files: %s" % installed)
        log("installed through the sub-command and the web page")

        # Refused, each naming the file and the reason; nothing replaced.
        refusals = [
            ("text as profile", ["-d", "photo", "--media-type", "stationery", "--profile",
                                 self.files["text.icc"]], "text.icc: not an ICC profile"),
            ("RGB printer profile", ["-d", "photo", "--media-type", "stationery", "--profile",
                                     self.files["rgb.icc"]], "device space is RGB"),
            ("calibration cut short", ["-d", "photo", "--media-type", "stationery",
                                       "--calibration", self.files["cut.cal"]], "cut.cal"),
            ("profile as calibration", ["-d", "photo", "--media-type", "stationery",
                                        "--calibration", self.files["cmyk.icc"]],
             "not a CGATS file"),
            ("profile for black ink only", ["-d", "mono", "--media-type", "stationery",
                                            "--profile", self.files["cmyk.icc"]],
             "takes no ICC profile"),
            ("media type the driver lacks", ["-d", "mono", "--media-type", "photographic",
                                             "--calibration", self.files["good.cal"]],
             "not one of the printer's media types"),
        ]
        for what, argv, words in refusals:
            code, text = self.color_files(*argv, check=False)
            self.check(code != 0 and "Refused" in text and words in text,
                       "%s: exit %d:\n%s" % (what, code, text))
        web_refusals = [
            ("corrupt upload", {"media-type": "stationery"}, {"profile": cmyk[:600]}, True,
             "(uploaded as the profile of stationery)"),
            ("no session token", {"media-type": "stationery"}, {"profile": cmyk}, False,
             "Invalid form submission"),
            ("over 2 MB", {"media-type": "stationery"}, {"profile": cmyk * (1 + 2200000 // len(cmyk))},
             True, "larger than the 2 MB"),
            ("a path instead of a file", {"media-type": "stationery",
                                          "profile": self.files["cmyk.icc"]}, {}, True,
             "not an uploaded file"),
        ]
        for what, fields, files, session, words in web_refusals:
            status, text = self.post_page("photo", fields, files, session)
            self.check(status == 400 and words in text, "%s: %d:\n%s" % (what, status, text))
        self.check(open(installed[0], "rb").read() == cmyk,
                   "a refused file replaced the installed profile")
        self.check(not glob.glob(os.path.join(app.state, "color", "*", "*.new")),
                   "a refused file was left behind")
        log("%d refusals, the installed files kept" % (len(refusals) + len(web_refusals)))

        # Advertised, and served.
        uri = "ipp://localhost:%d/ipp/print/photo" % app.port
        test = self.file("color.test", ATTRIBUTES_TEST.encode())
        result = run(["ipptool", "-t", "-d", "intent=auto", uri, test], check=False)
        text = result.stdout.decode(errors="replace")
        self.check(result.returncode == 0, "attributes:\n" + text)
        urls = dict(re.findall(r"profile-name=(\S+) profile-url=(\S+?)[},\s]", text))
        self.check(set(urls) == {"stationery", "photographic-glossy"},
                   "printer-icc-profiles: %s\n%s" % (urls, text))
        path = "/" + urls["stationery"].split("/", 3)[3]
        status, body = self.get_bytes(path)
        self.check(status == 200 and body == cmyk, "the profile's URL %s answered %d" % (path, status))
        log("printer-icc-profiles, intents and defaults advertised; the profile served")

        # The same colour page, two intents: different streams; "auto" is perceptual.
        streams = {}
        for intent in ("relative", "absolute", "perceptual", "auto"):
            job, state = self.print_page("photo", "intent-" + intent,
                                         ["media-type=stationery",
                                          "print-rendering-intent=" + intent])
            self.check(state == "completed", "the %s job ended %s" % (intent, state))
            streams[intent] = self.stream(job, "intent-" + intent)
        # Absolute colorimetric prints the paper's tint where relative leaves it white.
        self.check(streams["relative"] != streams["absolute"],
                   "relative and absolute printed the same stream")
        self.check(streams["perceptual"] == streams["auto"], "auto printed otherwise than perceptual")
        # The same files and intent through inkrow-print give the very same stream.
        offset = app.log_offset()
        job, state = self.print_page("photo", "door", ["media-type=stationery",
                                                       "print-rendering-intent=relative"], ())
        size = re.search(r"Rendering application/pdf at (\d+)x(\d+) pixels, 300 dpi, RGB",
                         app.log_since(offset))
        self.check(state == "completed" and size, "the inkrow-print comparison job: %s" % state)
        reference = os.path.join(self.work, "door.reference")
        run([self.args.print, "--quality", "10", "--media", "0", "--resolution", "300",
             "--paper", "%sx%s" % size.groups(), "--icc-profile", self.files["cmyk.icc"],
             "--rendering-intent", "relative", "--no-black-point-compensation",
             "--calibration", self.files["good.cal"], "--output", reference, self.args.sample],
            timeout=120)
        self.check(self.stream(job, "door") == open(reference, "rb").read(),
                   "the application's stream differs from inkrow-print's with the same files")
        # The printer default, set like the others, applies to a job that names none.
        app.command("modify", "-d", "photo", "-o", "print-rendering-intent-default=absolute")
        job, state = self.print_page("photo", "default", ["media-type=stationery"])
        self.check(self.stream(job, "default") == streams["absolute"],
                   "the default intent did not apply")
        offset = app.log_offset()
        job, state = self.print_page("photo", "raw", ["media-type=stationery", "cm-calibration=true"])
        self.check(state == "completed" and self.stream(job, "raw") != streams["absolute"],
                   "calibration mode: %s" % state)
        self.check("Colour: calibration mode" in app.log_since(offset), "calibration mode not logged")
        job, state = self.print_page("photo", "bad-intent", ["print-rendering-intent=vivid"])
        self.check(state == "aborted", "an unknown intent printed: %s" % state)
        log("intents print differently; default intent and calibration mode apply")

        # A profile damaged after its install: the job aborts before any page.
        with open(installed[0], "r+b") as f:
            f.truncate(600)
        offset = app.log_offset()
        job, state = self.print_page("photo", "damaged", ["media-type=stationery"])
        text = app.log_since(offset)
        self.check(state == "aborted" and re.search(
            r"Job stopped: output profile \S*stationery\.icc: ", text),
            "a damaged profile: %s\n%s" % (state, text[-2000:]))
        partial = os.path.join(self.out, "%d-damaged.prn.partial" % job)
        self.check(not os.path.exists(partial) or os.path.getsize(partial) == 0,
                   "the damaged-profile job wrote a stream")
        log("a profile damaged after its install aborts the job with its reason")

        # Removed, and still there after a restart.
        self.color_files("-d", "photo", "--media-type", "stationery", "--remove-profile")
        # SIGTERM rather than the shutdown sub-command, whose own connection PAPPL 1.3 may
        # still be closing when it frees the server.
        app.stop()
        self.check_server_report()
        app.start()
        _, text = self.color_files("-d", "photo")
        self.check(re.search(r"^stationery - calibration$", text, re.M) and
                   re.search(r"^photographic-glossy profile -$", text, re.M),
                   "after the restart:\n" + text)
        result = run(["ipptool", "-t", "-d", "intent=absolute", uri, test], check=False)
        self.check(result.returncode == 0, "attributes after the restart:\n" +
                   result.stdout.decode(errors="replace"))
        app.stop()
        self.check_server_report()
        log("PASS")

    def check_server_report(self):
        report = open(os.path.join(self.work, "server.out"), errors="replace").read()
        self.check(not re.search(r"Sanitizer|runtime error", report),
                   "the sanitizers reported:\n" + report[-4000:])

    def get_bytes(self, path):
        connection = http.client.HTTPConnection("127.0.0.1", self.app.port, timeout=remaining(15))
        try:
            connection.request("GET", path)
            response = connection.getresponse()
            return response.status, response.read()
        finally:
            connection.close()

    def check(self, condition, message):
        if not condition:
            raise Failure(message)

    def clean(self, keep):
        self.app.stop()
        if keep:
            log("work files kept in %s" % self.work)
        else:
            shutil.rmtree(self.work, ignore_errors=True)


class SkipTest(Exception):
    pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--app", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--print", required=True, help="inkrow-print, to compare with")
    parser.add_argument("--keep", action="store_true", help="keep the work files")
    args, _ = parser.parse_known_args()
    for tool in ("gs", "ipptool"):
        if not shutil.which(tool):
            log("SKIP: %s is not installed" % tool)
            return SKIP
    if os.geteuid() == 0 and not shutil.which("setpriv"):
        log("SKIP: setpriv is needed to run the application unprivileged")
        return SKIP

    def interrupted(number, frame):
        raise Failure("interrupted by signal %d" % number)

    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(number, interrupted)
    suite = Suite(args)
    failed = True
    try:
        suite.run()
        failed = False
        return 0
    except SkipTest as skip:
        failed = False
        log("SKIP: %s" % skip)
        return SKIP
    except Failure as failure:
        log("FAIL: %s" % failure)
        log("---- application log (last lines) ----\n" + suite.app.log_tail())
        return 1
    finally:
        suite.clean(args.keep or failed)


if __name__ == "__main__":
    sys.exit(main())
