#!/usr/bin/env python3
"""Colour files of inkrow-printer-app: per media type an ICC profile and a calibration.

A private instance (end_to_end.App). Files installed with the color-files sub-command and
a multipart POST to the Colour Files page; corrupt, mismatched and forged ones refused
with the file and the reason, the installed file kept; printer-icc-profiles (served at
its URL), the intents and defaults seen with ipptool; one colour page with two intents
gives two streams, "auto" the perceptual one; the whole sample as inkrow-print prints it
with the same files; a default intent and calibration mode apply; a profile damaged on
disk aborts its job; all of it after a restart. Ghostscript's profiles serve as files.
Exit status: 0 passed, 1 failed, 77 skipped.
"""

import argparse
import glob
import http.client
import os
import re
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from end_to_end import App, Failure, log, remaining, run, run_in_work_directory  # noqa: E402

ATTRIBUTES_TEST = """{
	OPERATION Get-Printer-Attributes
	GROUP operation-attributes-tag
	ATTR charset attributes-charset utf-8
	ATTR naturalLanguage attributes-natural-language en
	ATTR uri printer-uri $uri
	STATUS successful-ok
	EXPECT printer-icc-profiles OF-TYPE collection
	EXPECT print-rendering-intent-supported OF-TYPE keyword COUNT 6
	EXPECT print-rendering-intent-default WITH-VALUE "$intent"
	EXPECT job-creation-attributes-supported WITH-VALUE "print-rendering-intent"
	EXPECT job-creation-attributes-supported WITH-VALUE "cm-calibration"
	EXPECT cm-calibration-default OF-TYPE boolean WITH-VALUE false
	DISPLAY printer-icc-profiles
}
"""

CALIBRATION = ("CAL\n\nCOLOR_REP \"CMYK\"\n\nNUMBER_OF_FIELDS 5\nBEGIN_DATA_FORMAT\n"
               "CMYK_I CMYK_C CMYK_M CMYK_Y CMYK_K\nEND_DATA_FORMAT\n\nNUMBER_OF_SETS 3\n"
               "BEGIN_DATA\n0 0 0 0 0\n0.5 0.4 0.5 0.5 0.5\n1 0.8 1 1 1\nEND_DATA\n").encode()


def check(condition, message):
    if not condition:
        raise Failure(message)


class Suite:
    def __init__(self, args, work):
        self.args, self.work = args, work
        self.out = os.path.join(work, "out")
        for directory in (self.out, os.path.join(work, "blocked")):
            os.makedirs(directory)
            os.chmod(directory, 0o777)
        self.app = App(args, work)
        self.files = {}

    def file(self, name, data):
        self.files[name] = os.path.join(self.work, name)
        with open(self.files[name], "wb") as f:
            f.write(data)
        os.chmod(self.files[name], 0o644)

    def color_files(self, *argv):
        result = self.app.command("color-files", *argv, check=False)
        return result.returncode, (result.stdout + result.stderr).decode(errors="replace")

    def http(self, method, path, body=None, headers=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.app.port, timeout=remaining(15))
        try:
            connection.request(method, path, body, headers or {})
            response = connection.getresponse()
            return response.status, response.read()
        finally:
            connection.close()

    def post_form(self, fields, files, session=True):
        """The photo printer's Colour Files form as a browser posts it, answered as text."""
        token = ""
        if session:
            page = self.http("GET", "/photo/color")[1].decode(errors="replace")
            token = re.search(r'name="session" value="([^"]*)"', page).group(1)
        parts = [(name, None, value.encode()) for name, value in
                 [("session", token), ("reply", "text")] + list(fields.items())]
        parts += [(name, name + ".bin", data) for name, data in files.items()]
        body = b""
        for name, filename, data in parts:
            body += b"--XyZzY\r\nContent-Disposition: form-data; name=\"%s\"%s\r\n\r\n" % (
                name.encode(), b"; filename=\"%s\"" % filename.encode() if filename else b"")
            body += data + b"\r\n"
        status, answer = self.http("POST", "/photo/color", body + b"--XyZzY--\r\n",
                                   {"Content-Type": "multipart/form-data; boundary=XyZzY"})
        return status, answer.decode(errors="replace")

    def print_page(self, title, options, ranges=("page-ranges=1-1",)):
        """Prints the sample on the photo printer; the job's state and its stream."""
        job, _ = self.app.submit("photo", self.args.sample, title, [
            "printer-resolution=300dpi", "print-color-mode=color", *ranges, *options])
        state = self.app.wait_job("photo", job)
        path = os.path.join(self.out, "%d-%s.prn" % (job, title))
        return state, open(path, "rb").read() if os.path.exists(path) else None

    def attributes(self, intent):
        result = run(["ipptool", "-t", "-d", "intent=" + intent,
                      "ipp://localhost:%d/ipp/print/photo" % self.app.port,
                      self.files["color.test"]], check=False)
        text = result.stdout.decode(errors="replace")
        check(result.returncode == 0, "the colour attributes:\n" + text)
        return dict(re.findall(r"profile-name=(\S+) profile-url=(\S+?)[},\s]", text))

    def restart(self):
        # SIGTERM rather than the shutdown sub-command, whose own connection PAPPL 1.3 may
        # still be closing when it frees the server.
        self.app.stop_checked()

    def run(self):
        app = self.app
        found = sorted(glob.glob("/usr/share/ghostscript/*/iccprofiles/default_cmyk.icc"))
        if not found:
            return "Ghostscript's ICC profiles are not installed"
        cmyk = open(found[-1], "rb").read()
        self.file("cmyk.icc", cmyk)
        self.file("rgb.icc", open(found[-1].replace("_cmyk", "_rgb"), "rb").read())
        self.file("good.cal", CALIBRATION)
        self.file("text.icc", b"this is no profile\n")
        self.file("cut.cal", CALIBRATION[:-30])
        self.file("color.test", ATTRIBUTES_TEST.encode())
        app.start()
        for name, driver in (("photo", "inkrow-photo"), ("mono", "inkrow-black")):
            app.add_printer(name, driver, "file://%s?ext=prn" % self.out)

        # Installed through the sub-command and the page, refused with the file and reason.
        stationery = ("-d", "photo", "--media-type", "stationery")
        code, text = self.color_files(*stationery, "--profile", self.files["cmyk.icc"],
                                      "--calibration", self.files["good.cal"])
        check(code == 0 and "stationery profile calibration" in text, "install:\n" + text)
        status, text = self.post_form({"media-type": "photographic-glossy"}, {"profile": cmyk})
        check(status == 200 and "photographic-glossy profile -" in text, "upload:\n" + text)
        for argv, words in (
                (stationery + ("--profile", self.files["text.icc"]), "text.icc: not an ICC"),
                (stationery + ("--profile", self.files["rgb.icc"]), "device space is RGB"),
                (stationery + ("--calibration", self.files["cut.cal"]), "cut.cal: not a CGATS"),
                (stationery + ("--calibration", self.files["cmyk.icc"]), "not a CGATS file"),
                (("-d", "mono", "--media-type", "stationery", "--profile", self.files["cmyk.icc"]),
                 "takes no ICC profile"),
                (("-d", "mono", "--media-type", "photographic", "--calibration",
                  self.files["good.cal"]), "not one of the printer's media types")):
            code, text = self.color_files(*argv)
            check(code == 1 and "Refused" in text and words in text, "%s:\n%s" % (argv, text))
        for fields, files, session, words in (
                ({}, {"profile": cmyk[:600]}, True, "(uploaded as the profile of stationery)"),
                ({}, {"profile": cmyk}, False, "Invalid form submission"),
                ({}, {"profile": cmyk * (1 + 2200000 // len(cmyk))}, True, "larger than the 2 MB"),
                ({"profile": self.files["cmyk.icc"]}, {}, True, "not an uploaded file")):
            status, text = self.post_form(dict(fields, **{"media-type": "stationery"}), files,
                                          session)
            check(status == 400 and words in text, "%s:\n%s" % (words, text))
        installed = glob.glob(os.path.join(app.state, "color", "printer-*", "stationery.icc"))
        check(len(installed) == 1 and open(installed[0], "rb").read() == cmyk and
              not glob.glob(os.path.join(app.state, "color", "*", "*.new")),
              "the installed profile was replaced or a refused file left: %s" % installed)

        # Advertised, and served at its URL.
        urls = self.attributes("auto")
        check(set(urls) == {"stationery", "photographic-glossy"}, "printer-icc-profiles %s" % urls)
        check(self.http("GET", "/" + urls["stationery"].split("/", 3)[3]) == (200, cmyk),
              "the profile's URL does not serve it")
        log("files installed, refused and advertised")

        # Intents, the inkrow-print door, the default intent and calibration mode.
        streams = {}
        for intent in ("relative", "absolute", "perceptual", "auto"):
            state, streams[intent] = self.print_page(
                intent, ["media-type=stationery", "print-rendering-intent=" + intent])
            check(state == "completed", "the %s job ended %s" % (intent, state))
        # Absolute colorimetric prints the paper's tint where relative leaves it white.
        check(streams["relative"] != streams["absolute"], "relative printed as absolute")
        check(streams["perceptual"] == streams["auto"], "auto printed otherwise than perceptual")
        offset = app.log_offset()
        state, door = self.print_page("door", ["media-type=stationery",
                                               "print-rendering-intent=relative"], ())
        size = re.search(r"Rendering application/pdf at (\d+x\d+) pixels, 300 dpi, RGB",
                         app.log_since(offset))
        reference = os.path.join(self.work, "door.reference")
        run([self.args.print, "--quality", "10", "--media", "0", "--resolution", "300",
             "--paper", size.group(1), "--icc-profile", self.files["cmyk.icc"],
             "--rendering-intent", "relative", "--no-black-point-compensation", "--calibration",
             self.files["good.cal"], "--output", reference, self.args.sample], timeout=120)
        check(door == open(reference, "rb").read(), "inkrow-print printed the files otherwise")
        app.command("modify", "-d", "photo", "-o", "print-rendering-intent-default=absolute")
        check(self.print_page("default", ["media-type=stationery"])[1] == streams["absolute"],
              "the default intent did not apply")
        offset = app.log_offset()
        state, raw = self.print_page("raw", ["media-type=stationery", "cm-calibration=true"])
        check(raw not in (None, streams["absolute"]) and
              "Colour: calibration mode" in app.log_since(offset), "calibration mode")
        check(self.print_page("vivid", ["print-rendering-intent=vivid"])[0] == "aborted",
              "an unknown intent printed")
        log("intents, defaults and calibration mode applied, as inkrow-print applies them")

        # A profile damaged on disk stops its job before a byte.
        with open(installed[0], "r+b") as f:
            f.truncate(600)
        offset = app.log_offset()
        state, stream = self.print_page("damaged", ["media-type=stationery"])
        check(state == "aborted" and stream is None and re.search(
            r"Job stopped: output profile \S*stationery\.icc: ", app.log_since(offset)),
            "a damaged profile: %s" % state)

        # Removed; the rest and the default intent stay over a restart.
        check(self.color_files(*stationery, "--remove-profile")[0] == 0, "removal")
        self.restart()
        app.start()
        _, text = self.color_files("-d", "photo")
        check(re.search(r"^stationery - calibration\nstationery-inkjet", text, re.M),
              "after the restart:\n" + text)
        check(set(self.attributes("absolute")) == {"photographic-glossy"}, "after the restart")
        self.restart()
        log("PASS")
        return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--app", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--print", required=True, help="inkrow-print, to compare with")
    parser.add_argument("--keep", action="store_true", help="keep the work files")
    args, _ = parser.parse_known_args()
    missing = [t for t in ("gs", "ipptool") + (("setpriv",) if os.geteuid() == 0 else ())
               if not shutil.which(t)]
    if missing:
        log("SKIP: %s is not installed" % ", ".join(missing))
        return 77

    def body(work, apps):
        suite = Suite(args, work)
        apps.append(suite.app)
        return suite.run()

    return run_in_work_directory(args, "inkrow-color-", body)


if __name__ == "__main__":
    sys.exit(main())
