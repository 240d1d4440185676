#!/usr/bin/env python3
"""The printer application under attack and load.

One private instance on loopback (run as "nobody" when started by root, the attacker then
being "daemon"): devices outside the output directories are refused through the web page
and IPP and nothing is written there; a malformed raw stream never reaches the device; a
stranger can neither change the system, cancel another's job nor read the log; three
clients x ten jobs of mixed formats (PDF, JPEG, PWG, PNG, raw), several rounds, all
complete; jobs queued while the
printer is paused print oldest first; looping PostScript is canceled, or stopped by the
page time limit, within seconds; a cut PDF does not complete; after kill -9 the
interrupted job comes back aborted, its output marked partial, and the queue moves on
its own. Uses the end-to-end harness (end_to_end.py). Exit 0 passed, 1 failed, 77 skipped.
"""

import os
import re
import signal
import shutil
import socket
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import end_to_end as e2e  # noqa: E402
from end_to_end import Failure, log, run  # noqa: E402

# Three rounds of load take over a minute under the sanitizers: this test has its own
# overall deadline, just inside its ctest timeout, instead of the end-to-end test's.
e2e.DEADLINE = time.monotonic() + 285

ROUNDS = 3
CLIENTS = 3
JOBS_PER_CLIENT = 10
PAGE_SECONDS = 4  # the Ghostscript time limit of this instance

IPP_REQUEST = """{
  OPERATION %(operation)s
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri %(target)s %(uri)s
  ATTR name requesting-user-name %(user)s
  %(extra)s
  STATUS successful-ok
}
"""


class Attack(e2e.Suite):
    def __init__(self, args):
        super().__init__(args)
        self.app.env["INKROW_GS_PAGE_SECONDS"] = str(PAGE_SECONDS)
        self.victim = os.path.join(self.work, "victim")
        os.makedirs(self.victim)
        os.chmod(self.victim, 0o777)
        self.stranger = []
        if os.geteuid() == 0:
            self.stranger = ["setpriv", "--reuid=1", "--regid=1", "--clear-groups"]  # daemon

    def ipp(self, operation, path, extra="", prefix=None, name="request"):
        """Sends one IPP request with ipptool (as the stranger when `prefix` says so);
        returns (succeeded, output)."""
        test = os.path.join(self.work, name + ".test")
        system = path == "/ipp/system"
        uri = "ipp://127.0.0.1:%d%s" % (self.app.port, path)
        with open(test, "w") as f:
            f.write(IPP_REQUEST % {"operation": operation, "uri": uri, "extra": extra,
                                   "target": "system-uri" if system else "printer-uri",
                                   "user": "attacker" if prefix else "tester"})
        os.chmod(test, 0o644)
        result = run((prefix or []) + ["ipptool", "-tv", uri, test], check=False, timeout=30)
        return result.returncode == 0, result.stdout.decode(errors="replace")

    def refused(self, result, what):
        ok, out = result
        self.check(not ok, what + " was not refused:\n" + out[-1500:])
        return out

    # -- the cases --

    def case_device_outside(self):
        evil = "file://%s?ext=sh" % self.victim
        status, body = self.app.web_get("/addprinter")
        session = re.search(r'name="session" value="([0-9a-f]+)"', body).group(1)
        form = {"session": session, "printer_name": "evil", "device_uri": "",
                "driver_name": "inkrow-cmyk", "device_uri_text": evil}
        status, _, body = self.app.web_post("/addprinter", form)
        self.check(status == 200 and "not inside the output directories" in body,
                   "the web page took %s (%d)" % (evil, status))
        extra = ('ATTR keyword printer-service-type print\n  ATTR name printer-name evil2\n'
                 '  ATTR uri smi55357-device-uri %s\n  ATTR keyword smi55357-driver inkrow-cmyk'
                 % evil)
        self.refused(self.ipp("Create-Printer", "/ipp/system", extra), "IPP Create-Printer")
        printers = self.app.command("printers").stdout.decode().split()
        self.check("evil" not in printers and "evil2" not in printers, "printers %r" % printers)
        self.check(os.listdir(self.victim) == [], "written: %r" % os.listdir(self.victim))

    def case_malformed_raw(self):
        bad = self.input_file("bad.inkrow")
        with open(bad, "wb") as f:
            f.write(b"\x1b(I\x01\x00\x00" + b"\x00" * 64)
        os.chmod(bad, 0o644)
        offset = self.app.log_offset()
        job, _ = self.app.submit("photo", bad, "bad-raw", ["document-format=application/vnd.inkrow"])
        self.failed_job("photo", job, offset, ["Job stopped: the stream is malformed"])
        self.check(not os.path.exists(self.stream_of("bad-raw")), "a malformed stream was written")

    def case_strangers(self):
        if not self.stranger:
            log("     (not root: no second user to attack with)")
            return
        self.app.command("pause", "-d", "photo")  # the victim's job waits in the queue
        job, _ = self.app.submit("photo", self.input_file("sample.pdf"), "victims-job")
        for operation, path, extra in (
                ("Pause-Printer", "/ipp/print/photo", ""),
                ("Cancel-Job", "/ipp/print/photo", "ATTR integer job-id %d" % job),
                ("Shutdown-All-Printers", "/ipp/system", ""),
                ("Delete-Printer", "/ipp/system", "ATTR integer printer-id 1"),
                ("Set-System-Attributes", "/ipp/system",
                 "GROUP system-attributes-tag\n  ATTR keyword system-default-printer-id 2")):
            out = self.refused(self.ipp(operation, path, extra, self.stranger), operation)
            self.check(re.search(r"401|not-authorized|Unauthorized", out),
                       operation + " failed for another reason:\n" + out[-1500:])
        for page in ("/logfile.txt", "/logs", "/addprinter", "/photo/color"):
            result = run(self.stranger + ["curl", "-s", "-o", "/dev/null", "-w", "%{http_code}",
                                          "http://127.0.0.1:%d%s" % (self.app.port, page)],
                         check=False)
            self.check(result.stdout.decode() == "401", "a stranger got %s: %s" % (
                page, result.stdout.decode()))
        # The administrator password opens what the stranger's own identity does not.
        short = run(self.app.prefix + [self.app.binary, "passwd"], env=self.app.env,
                    input_bytes=b"short\n", check=False)
        self.check(short.returncode != 0 and b"8 to 256" in short.stderr, "a short password")
        run(self.app.prefix + [self.app.binary, "passwd"], env=self.app.env,
            input_bytes=b"correct horse battery\n")
        for password, code in (("wrong one", "401"), ("correct horse battery", "206")):
            result = run(self.stranger + ["curl", "-s", "-o", "/dev/null", "-w", "%{http_code}",
                                          "-u", "admin:" + password,
                                          "http://127.0.0.1:%d/logfile.txt" % self.app.port],
                         check=False)
            self.check(result.stdout.decode() == code, "password %r gave %s" % (
                password, result.stdout.decode()))
        self.check(self.app.job_state("photo", job) == "pending", "the victim's job was touched")
        self.app.command("cancel", "-d", "photo", "-j", str(job))
        self.app.command("resume", "-d", "photo")
        self.check("photo" in self.app.command("printers").stdout.decode().split(),
                   "a stranger deleted the printer")

    def case_small_points(self):
        # Long, hidden and repeated job names: each job its own file, bounded, visible.
        names = ["n" * 300, "..", ".", "twice", "twice"]
        jobs = [self.app.submit("cmyk", self.input_file("white.png"), name)[0] for name in names]
        for job in jobs:
            self.check(self.app.wait_job("cmyk", job, 60) == "completed", "job %d" % job)
        files = os.listdir(self.out)
        for job, name in zip(jobs, names):
            mine = [f for f in files if f.startswith("%d-" % job) and f.endswith(".prn")]
            self.check(len(mine) == 1 and len(mine[0]) < 90 and not mine[0].startswith("."),
                       "job %d %r wrote %r" % (job, name[:10], mine))
        # A document of no known format, labelled PDF: the reason, without the spool path.
        garbage = self.input_file("garbage.bin")
        with open(garbage, "wb") as f:
            f.write(b"\x00garbage" * 100)
        os.chmod(garbage, 0o644)
        offset = self.app.log_offset()
        job, _ = self.app.submit("cmyk", garbage, "garbage", ["document-format=application/pdf"])
        text = self.failed_job("cmyk", job, offset, ["the document is of an unknown format"])
        self.check("/spool/" not in text.split("unknown format")[0][-300:],
                   "the message shows the spool path:\n" + text[-1000:])
        # 10,000 repeated requested-attributes answer at once (libcups alone takes minutes).
        def value(tag, name, text):
            return (struct.pack(">BH", tag, len(name)) + name.encode() +
                    struct.pack(">H", len(text)) + text)
        uri = "ipp://127.0.0.1:%d/ipp/print/cmyk" % self.app.port
        request = (struct.pack(">BBHI", 2, 0, 0x000B, 1) + b"\x01" +
                   value(0x47, "attributes-charset", b"utf-8") +
                   value(0x48, "attributes-natural-language", b"en") +
                   value(0x45, "printer-uri", uri.encode()) +
                   value(0x44, "requested-attributes", b"all") +
                   value(0x44, "", b"all") * 9999 + b"\x03")
        started = time.monotonic()
        with socket.create_connection(("127.0.0.1", self.app.port), timeout=30) as connection:
            connection.sendall(b"POST /ipp/print/cmyk HTTP/1.1\r\nHost: localhost\r\n"
                               b"Content-Type: application/ipp\r\nContent-Length: %d\r\n\r\n"
                               % len(request) + request)
            self.check(connection.recv(12) == b"HTTP/1.1 200", "no answer")
        self.check(time.monotonic() - started < 5, "10,000 requested-attributes took %.0f s" % (
            time.monotonic() - started))
        # A state directory whose control socket path cannot fit is refused up front.
        deep = dict(self.app.env, INKROW_STATE_DIR=os.path.join(self.work, "d" * 120))
        result = run(self.app.prefix + [self.app.binary, "server"], env=deep, check=False)
        self.check(result.returncode != 0 and b"shorter INKROW_STATE_DIR" in result.stderr,
                   "a long state directory: %r" % result.stderr)
        # A second server on the same port says so instead of starting on one address.
        other = dict(self.app.env, INKROW_STATE_DIR=os.path.join(self.work, "other"))
        result = run(self.app.prefix + [self.app.binary, "server"], env=other, check=False,
                     timeout=20)
        self.check(result.returncode != 0 and b"in use" in result.stderr,
                   "a second server on port %d: %r" % (self.app.port, result.stderr))

    def case_load(self):
        # PWG raster streams from its client and waits for the printer in turn.
        kinds = [("sample.pdf", []), ("picture.jpg", []), ("page.pwg", []), ("picture.png", []),
                 (None, ["document-format=application/vnd.inkrow"])]
        crashes = 0
        started = time.monotonic()
        for round_number in range(ROUNDS):
            jobs, errors = [], []

            def client(number):
                for i in range(JOBS_PER_CLIENT):
                    name, options = kinds[(number + i) % len(kinds)]
                    path = self.input_file(name) if name else self.png_stream
                    try:
                        job, _ = self.app.submit("cmyk", path, "load-%d-%d-%d" % (
                            round_number, number, i), ["print-quality=draft"] + options)
                        jobs.append(job)
                    except Failure as failure:
                        errors.append(str(failure))

            threads = [threading.Thread(target=client, args=(n,)) for n in range(CLIENTS)]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
            self.check(not errors, "submitting failed: %s" % errors[:2])
            self.check(self.app.server.poll() is None, "the server died in round %d" % round_number)
            states = [self.app.wait_job("cmyk", job, 120) for job in jobs]
            self.check(states.count("completed") == len(jobs) == CLIENTS * JOBS_PER_CLIENT,
                       "round %d: %r" % (round_number, states))
        seconds = time.monotonic() - started
        jobs = ROUNDS * CLIENTS * JOBS_PER_CLIENT
        self.timings.append("load: %d jobs in %d rounds of %d clients, %d crashes, %.2f s a job"
                            % (jobs, ROUNDS, CLIENTS, crashes, seconds / jobs))

    def case_paused_order(self):
        self.app.command("pause", "-d", "black")
        jobs = [self.app.submit("black", self.input_file("white.png"), "paused-%d" % i)[0]
                for i in range(4)]
        offset = self.app.log_offset()
        self.app.command("resume", "-d", "black")
        for job in jobs:
            self.app.wait_job("black", job, 60)
        started = [int(n) for n in re.findall(r"\[Job (\d+)\] Starting print job",
                                              self.app.log_since(offset))]
        self.check(started == sorted(jobs), "paused jobs printed in the order %r" % started)

    def case_looping_postscript(self):
        loop = self.input_file("loop.ps")
        with open(loop, "w") as f:
            f.write("%!PS\n{} loop\n")
        os.chmod(loop, 0o644)
        job, _ = self.app.submit("sixteen", loop, "loop-cancel")
        end = time.monotonic() + 10
        while self.app.job_state("sixteen", job) != "processing" and time.monotonic() < end:
            time.sleep(0.05)
        asked = time.monotonic()
        self.app.command("cancel", "-d", "sixteen", "-j", str(job))
        self.check(self.app.wait_job("sixteen", job, 10) == "canceled", "not canceled")
        self.timings.append("looping PostScript canceled in %.1f s" % (time.monotonic() - asked))
        offset = self.app.log_offset()
        job, _ = self.app.submit("sixteen", loop, "loop-limit")
        self.failed_job("sixteen", job, offset, ["time limit of %d s" % PAGE_SECONDS],
                        limit=PAGE_SECONDS + 15)

    def case_cut_pdf(self):
        data = open(self.input_file("sample.pdf"), "rb").read()
        cut = self.input_file("cut.pdf")
        open(cut, "wb").write(data[:len(data) * 95 // 100])
        os.chmod(cut, 0o644)
        offset = self.app.log_offset()
        job, _ = self.app.submit("photo", cut, "cut-pdf")
        self.failed_job("photo", job, offset, ["Job stopped:", "Page drawing error"], limit=60)

    def case_crash_restart(self):
        first, _ = self.app.submit("sixteen", self.input_file("three.pdf"), "crash-first",
                                   ["printer-resolution=600dpi", "print-quality=high"])
        queued = [self.app.submit("sixteen", self.input_file("white.png"), "crash-next-%d" % i)[0]
                  for i in range(2)]
        state = os.path.join(self.app.state, "inkrow-printer-app.state")
        end = time.monotonic() + 60
        while time.monotonic() < end:  # PAPPL saves its state a moment after a change
            partial = self.stream_of("crash-first")
            if os.path.exists(partial) and os.path.getsize(partial) > 0 and \
                    'name="crash-next-1"' in open(state, errors="replace").read():
                break
            time.sleep(0.02)
        os.killpg(self.app.server.pid, signal.SIGKILL)
        self.app.server.wait(timeout=10)
        self.app.start()
        self.check(self.app.wait_job("sixteen", first, 30) == "aborted", "not aborted")
        self.check("server stopped while this job was printing" in self.app.log_tail(200),
                   "no reason given for the interrupted job")
        for job in queued:
            self.check(self.app.wait_job("sixteen", job, 60) == "completed",
                       "the queue did not move after the restart")
        self.check(self.stream_of("crash-first").endswith(".partial"),
                   "the interrupted output is not marked partial")

    def run(self):
        self.prepare_inputs()
        shutil.copy(self.input_file("sample.pdf"), self.input_file("sample-raw.pdf"))
        self.start_app()
        self.png_stream = self.make_raw_stream()
        for case in (self.case_device_outside, self.case_malformed_raw, self.case_strangers,
                     self.case_small_points, self.case_load, self.case_paused_order, self.case_looping_postscript,
                     self.case_cut_pdf, self.case_crash_restart):
            started = time.monotonic()
            case()
            log("ok   %-28s %.1f s" % (case.__name__[5:], time.monotonic() - started))
        self.app.shutdown()
        for line in self.timings:
            log("timing: " + line)

    def make_raw_stream(self):
        """A stream in the printer's language, from the application itself."""
        offset = self.app.log_offset()
        job, _ = self.app.submit("cmyk", self.input_file("white.png"), "raw-source")
        self.check(self.app.wait_job("cmyk", job, 60) == "completed", "no raw stream")
        stream = self.input_file("raw.inkrow")
        shutil.copy(self.stream_of("raw-source"), stream)
        os.chmod(stream, 0o644)
        del offset
        return stream


if __name__ == "__main__":
    e2e.Suite = Attack
    sys.exit(e2e.main())
