#!/usr/bin/env python3
"""End-to-end tests of varnel.exe under Wine and Xvfb, as a user would run it.

    e2e.py --build WINBUILD --source SRC CASE...     (CASE "all" runs every case)

Each case works in WINBUILD/e2e/CASE (made fresh), starts its own Xvfb display and its own
wineserver (prefix WINBUILD/wineprefix-e2e, made on first use), and runs Windows programs
through winrun.exe, which reports the full 32-bit exit code (Wine's own
exit status keeps only 8 bits) and drives the program's windows (steps: main_winrun.cpp).
Drives are simulated (docs/simulator.md); screenshots go to WINBUILD/screenshots as PNG.
Needs wine, Xvfb and python3 (scripts/setup.sh installs them).
"""

import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import time
import zlib

CASES = {}
EJECT = "1B 00 00 00 02 00"
WINE_FONTS = "/usr/share/wine/fonts"


def case(f):
    CASES[f.__name__] = f
    return f


class Failure(Exception):
    pass


def check(cond, text):
    if not cond:
        raise Failure(text)


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def bmp_to_png(bmp_path, png_path):
    """24-bit bottom-up BMP (as winrun writes it) to an RGB PNG, standard library only."""
    data = open(bmp_path, "rb").read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    bits = struct.unpack_from("<H", data, 28)[0]
    check(bits == 24, "unexpected BMP depth %d" % bits)
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        src = y if height < 0 else abs(height) - 1 - y
        row = data[offset + src * stride: offset + src * stride + width * 3]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = row[2::3], row[1::3], row[0::3]
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    png = (b"\x89PNG\r\n\x1a\n" +
           chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0)) +
           chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))
    with open(png_path, "wb") as f:
        f.write(png)


class Display:
    """A private Xvfb server for one case."""

    def __enter__(self):
        read_fd, write_fd = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        number = b""
        deadline = time.time() + 20
        while not number.endswith(b"\n") and time.time() < deadline:
            piece = os.read(read_fd, 16)
            if not piece:
                break
            number += piece
        os.close(read_fd)
        check(number.strip(), "Xvfb did not start")
        self.name = ":" + number.decode().strip()
        return self

    def __exit__(self, *exc):
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()


class Session:
    def __init__(self, args, name, display):
        self.build = os.path.abspath(args.build)
        self.source = os.path.abspath(args.source)
        self.exe = os.path.join(self.build, "src", "varnel.exe")
        self.pkg = os.path.join(self.build, "tools", "varnel-pkg.exe")
        self.winrun = os.path.join(self.build, "tests", "e2e", "winrun.exe")
        self.aspi_dll = os.path.join(self.build, "tests", "e2e", "wnaspi32.dll")
        self.shots = os.path.join(self.build, "screenshots")
        self.work = os.path.join(self.build, "e2e", name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        os.makedirs(self.shots, exist_ok=True)
        self.env = dict(os.environ)
        # A Wine prefix of the e2e tests' own: its wineserver (and desktop process) belongs to
        # this case's display and ends with it, apart from other Wine users of the build.
        self.prefix = os.path.join(self.build, "wineprefix-e2e")
        self.env["WINEPREFIX"] = self.prefix
        self.env["WINEDEBUG"] = "-all"
        self.env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
        self.env["DISPLAY"] = display.name
        for key in ("VARNEL_SIMULATE", "VARNEL_FORCE_ASPI", "VARNEL_ASPI_DRIVES"):
            self.env.pop(key, None)
        self.stop_wine()
        self.prepare_prefix()
        # A wineserver (and Wine's desktop process) that lasts for the whole case and holds
        # none of the pipes through which the case reads the programs' output.
        subprocess.run(["wineserver", "-p"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        subprocess.run(["wine", "cmd", "/c", "exit"], env=self.env, cwd=self.work, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)

    def stop_wine(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)

    def prepare_prefix(self):
        if not os.path.exists(os.path.join(self.prefix, "system.reg")):
            subprocess.run(["wineboot", "-i"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=600)
        # Wine's own fonts (Debian's fonts-wine: Marlett draws the title-bar buttons, Tahoma is
        # the dialog font): this Wine looks for them in the prefix's Fonts folder only.
        fonts = os.path.join(self.prefix, "drive_c", "windows", "Fonts")
        if os.path.isdir(WINE_FONTS) and os.path.isdir(fonts):
            for name in os.listdir(WINE_FONTS):
                if not os.path.exists(os.path.join(fonts, name)):
                    shutil.copy(os.path.join(WINE_FONTS, name), fonts)
        # Without a window manager Wine must draw the title bars itself.
        user_reg = os.path.join(self.prefix, "user.reg")
        text = open(user_reg, encoding="utf-8", errors="replace").read() if os.path.exists(user_reg) else ""
        if '"Decorated"="N"' not in text:
            subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Decorated",
                            "/t", "REG_SZ", "/d", "N", "/f"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)

    def map_drive(self, letter):
        """Makes the case's folder drive LETTER: in Wine (short paths for screenshots)."""
        link = os.path.join(self.prefix, "dosdevices", letter.lower() + ":")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(self.work, link)
        return letter.upper() + ":"

    def wine(self, args, env=None, timeout=240):
        proc = subprocess.run(["wine"] + args, env=env or self.env, cwd=self.work, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        return proc.returncode, proc.stdout.decode("utf-8", "replace")

    def path(self, name):
        return os.path.join(self.work, name)

    def pkg_tool(self, *args):
        rc, out = self.wine([self.pkg] + list(args))
        check(rc == 0, "varnel-pkg %s failed:\n%s" % (" ".join(args), out))
        return out

    def sample(self, folder="fw", revision="1.10", minor=None):
        args = ["sample", winpath(self.path(folder)), "--model", "KVS-Q42R", "--revision", revision]
        if minor:
            args += ["--minor", minor]
        self.pkg_tool(*args)
        return self.path(folder)

    def updater(self, name, customer=None, options=None, revision="1.10"):
        folder = self.sample("fw-" + name, revision)
        out = self.path(name + ".exe")
        args = ["build", "--engine", winpath(self.exe), "--prm", winpath(os.path.join(folder, "sample.prm")),
                "--out", winpath(out), "--product", "KVS-Q42R", "--filter", "1.**"]
        if customer:
            args += ["--customer", customer]
        if options:
            args += ["--options", options]
        self.pkg_tool(*args)
        return out

    def drives(self, name, drives, aspi=False, delay_ms=0):
        """A drive file with a journal; drives: list of (letter or address, revision[, more
        drive-file lines])."""
        lines = ["journal = %s.journal" % name, ""]
        for where, revision, *more in drives:
            lines += ["[drive]", ("address = %s" if aspi else "letter = %s") % where,
                      'vendor = "QZEN"', 'product = "DVD-RAM KVS-Q42R"', 'revision = "%s"' % revision,
                      "delay_ms = %d" % delay_ms]
            lines += list(more) + [""]
        path = self.path(name + ".txt")
        with open(path, "w") as f:
            f.write("\n".join(lines))
        return path

    def journal(self, drive_file):
        path = os.path.splitext(drive_file)[0] + ".journal"
        return open(path).read().splitlines() if os.path.exists(path) else []

    def state(self, drive_file):
        path = drive_file + ".state"
        return open(path).read() if os.path.exists(path) else ""

    def run(self, exe, args=(), drives=None, steps=None, env_extra=None):
        """Runs exe through winrun; returns (exit code, shown, output)."""
        env = dict(self.env)
        if drives:
            env["VARNEL_SIMULATE"] = winpath(drives)
        env.update(env_extra or {})
        command = [self.winrun]
        if steps is not None:
            step_file = self.path("steps-%d.txt" % time.monotonic_ns())
            with open(step_file, "w") as f:
                f.write("\n".join(steps) + "\n")
            command += ["drive", winpath(step_file)]
        else:
            command += ["run"]
        command += [winpath(exe)] + list(args)
        rc, out = self.wine(command, env)
        code = shown = None
        for line in out.splitlines():
            if line.startswith("exit="):
                code = int(line[5:])
            elif line.startswith("shown="):
                shown = line[6:] == "yes"
        check(code is not None, "winrun gave no exit code:\n" + out)
        check("FAIL" not in out, "winrun reports a failure:\n" + out)
        return code, shown, out

    def shot(self, name):
        """A step that saves a screenshot; the PNG is made by collect_shots."""
        return "shot " + winpath(self.path(name + ".bmp"))

    def collect_shots(self):
        for name in sorted(os.listdir(self.work)):
            if name.endswith(".bmp"):
                bmp_to_png(self.path(name), os.path.join(self.shots, name[:-4] + ".png"))


DIAGNOSTIC = "1D 01 00 00 06 00"


def downloads(session, drive_file, drive):
    """Number of completed downloads (SEND DIAGNOSTIC) into drive, and its WRITE BUFFERs."""
    lines = [l for l in session.journal(drive_file) if l.startswith(drive + " |")]
    diagnostics = [l for l in lines if DIAGNOSTIC in l and "| good" in l]
    writes = [l for l in lines if l.split(" | ")[1].startswith("3B") and "| good" in l]
    return len(diagnostics), len(writes)


# ---- cases --------------------------------------------------------------------------------


@case
def resources(s):
    """The resources of varnel.exe match the program's tables and the templates."""
    rc, out = s.wine([s.winrun, "resources", winpath(s.exe)])
    check(rc == 0, out)


@case
def maintenance(s):
    """Maintenance mode: an automatic run writes an updater; the dialog after a load."""
    exe = s.path("varnel.exe")
    shutil.copy(s.exe, exe)
    folder = s.sample("fw")
    # The case's folder as drive M:, so that the screenshot shows short paths.
    prm = s.map_drive("M") + "\\fw\\sample.prm"
    code, shown, _ = s.run(exe, [prm, "/a", "/op=E2E", "/rf=1.**", "/cn=LENOVO", "/no"])
    check(code == 0, "automatic generation ended with %d" % code)
    check(not shown, "the automatic generation showed a window")
    out_file = os.path.join(folder, "E2E_1.10.exe")
    written = [os.path.join(d, f) for d, _, files in os.walk(s.work) for f in files]
    check(os.path.exists(out_file), "no updater written: %s" % written)
    info = s.pkg_tool("inspect", winpath(out_file))
    # The engine is a byte copy of the running program; the switches became the package's.
    for want in ('"offset": %d' % os.path.getsize(exe), '"product": "KVS-Q42R"', '"filter": "1.**"',
                 '"customer": "LENOVO"', '"ONLY_NEWER"'):
        check(want in info, "inspect does not show %s:\n%s" % (want, info))

    # A person chooses the parameter file with the ">>" button and the file-open dialog.
    code, _, _ = s.run(exe, steps=[
        'window "Varnel.exe - Maintenance mode Ver.3.74K"',
        "entries 1025 38",
        "entries 1024 8",
        "text 1010 \"\"",
        "click 1009",
        'window "Input file name"',
        "type 1148 " + prm,
        "click 1",
        'window "Varnel.exe - Maintenance mode Ver.3.74K"',
        'text 1010 "Load OK (Push Generate button)"',
        "text 1000 " + prm,
        "text 1001 main.bin",
        "text 1007 core.bin",
        "text 1003 1.10",
        "entry 1023 0 KVS-Q42R",
        s.shot("maintenance"),
        # Filter, an option and a customer chosen in the dialog, then Generate.
        "type 1025 1",
        "type 1026 .",
        "type 1027 *",
        "type 1028 *",
        "click 1031",
        "select 1024 2",
        "click 1005",
        "gone",
    ])
    check(code == 0, "maintenance mode ended with %d" % code)
    info = s.pkg_tool("inspect", winpath(os.path.join(folder, "Q42R1.10.exe")))
    for want in ('"filter": "1.**"', '"customer": "DELL"', '"HIDE_COPYRIGHT"'):
        check(want in info, "inspect does not show %s:\n%s" % (want, info))
    check('"ONLY_NEWER"' not in info, "an option that was not chosen:\n" + info)
    s.collect_shots()


@case
def generation_failures(s):
    """A failed automatic generation: its messages, the dialog stays, the exit code is the
    result code; nothing is written. varnel-pkg build exits with the same code."""
    exe = s.path("varnel.exe")
    shutil.copy(s.exe, exe)
    main_window = 'window "Varnel.exe - Maintenance mode Ver.3.74K"'

    # An odd-length Main image and a Core image beginning with 01: the updater would find
    # the Main image broken (21).
    folder = s.path("odd")
    s.pkg_tool("sample", winpath(folder), "--model", "KVS-Q42R", "--revision", "1.10", "--size", "70001")
    core = os.path.join(folder, "core.bin")
    data = bytearray(open(core, "rb").read())
    data[0], data[2] = 0x01, 0xFF  # word 0 gains what word 1 loses
    open(core, "wb").write(bytes(data))
    prm = winpath(os.path.join(folder, "sample.prm"))
    code, shown, _ = s.run(exe, [prm, "/a"], steps=[
        'window "Generation error"',
        "click 1",
        main_window,
        'text 1010 "Load OK / Generate NG"',
        "click 2",
        "gone",
    ])
    check(code == 21, "odd Main ended with %d" % code)
    check(sorted(os.listdir(folder)) == ["core.bin", "main.bin", "sample.prm"],
          "written: %s" % os.listdir(folder))
    rc, out = s.wine([s.pkg, "build", "--engine", winpath(exe), "--prm", prm, "--out", winpath(s.path("odd.exe"))])
    check(rc == 21, "varnel-pkg build of the odd Main ended with %d:\n%s" % (rc, out))
    check(not os.path.exists(s.path("odd.exe")), "varnel-pkg wrote the odd Main")

    # A parameter file that cannot be opened: its message, then the refusal of Generate (1).
    code, _, _ = s.run(exe, [winpath(s.path("absent.prm")), "/a"], steps=[
        'window "File open error"',
        "click 1",
        'window "Generation error"',
        "click 1",
        main_window,
        'text 1010 "Load NG"',
        "click 2",
        "gone",
    ])
    check(code == 1, "absent parameter file ended with %d" % code)

    # A read-only output file is kept (9).
    folder = s.sample("ro")
    out_file = os.path.join(folder, "Q42R1.10.exe")
    with open(out_file, "wb") as f:
        f.write(b"old")
    os.chmod(out_file, 0o444)
    code, _, _ = s.run(exe, [winpath(os.path.join(folder, "sample.prm")), "/a"], steps=[
        'window "File open error"',
        "click 1",
        main_window,
        "click 2",
        "gone",
    ])
    check(code == 9, "read-only output ended with %d" % code)
    check(open(out_file, "rb").read() == b"old", "the read-only output was replaced")


@case
def broken(s):
    """A bare program padded past 1 MiB opens the updater in its broken-file state."""
    exe = s.path("padded.exe")
    data = open(s.exe, "rb").read()
    with open(exe, "wb") as f:
        f.write(data + b"\0" * (1048577 - len(data) + 4096))
    code, _, _ = s.run(exe, steps=[
        "window Varnel 20 1013",
        'text 1020 "The file may be broken."',
        "enabled 1011 0",
        "click 2",
        "gone",
    ])
    check(code == 259, "broken file ended with %d" % code)


@case
def silent(s):
    """/s with two drives: both are updated in parallel, no window, exit 0."""
    exe = s.updater("upd")
    drives = s.drives("two", [("D", "1.05"), ("E", "1.05")])
    code, shown, _ = s.run(exe, ["/s", "/au", "/ae", "/all"], drives=drives)
    check(code == 0, "silent run ended with %d" % code)
    check(not shown, "the silent run showed a window")
    for d in ("D", "E"):
        diag, writes = downloads(s, drives, d)
        check(diag == 1 and writes >= 2, "drive %s: %d diagnostics, %d writes" % (d, diag, writes))
    state = s.state(drives)
    check(state.count('revision "1.10"') == 2, "state after the run:\n" + state)


@case
def report(s):
    """/s /all /report=: the JSON report per drive; a drive that takes its new firmware at its
    next start is updated but not verified, and every updated drive is asked again after its
    diagnostic (TEST UNIT READY, then the 48-byte INQUIRY)."""
    exe = s.updater("rep")
    drives = s.drives("rep", [("D", "1.05"), ("E", "1.05", "activates = restart")])
    out = s.path("run.json")
    with open(out, "w") as f:
        f.write("old")  # an old report is replaced
    code, shown, _ = s.run(exe, ["/s", "/all", "/report=" + winpath(out)], drives=drives)
    check(code == 0, "report run ended with %d" % code)
    check(not shown, "the silent run showed a window")
    report = json.load(open(out))
    check((report["updater"], report["revision"], report["exit_code"]) == ("rep.exe", "1.10", 0),
          "report head: %r" % report)
    by_letter = {d["drive"][0]: d for d in report["drives"]}
    check(sorted(by_letter) == ["D", "E"], "report drives: %r" % report["drives"])
    for letter, after, verified in (("D", "1.10", True), ("E", "1.05", False)):
        d = by_letter[letter]
        got = (d["result"], d["revision_before"], d["revision_after"], d["verified"], d["error"])
        check(got == ("updated", "1.05", after, verified, ""), "drive %s: %r" % (letter, d))
        lines = [l.split(" | ")[1] for l in s.journal(drives) if l.startswith(letter + " |")]
        at = lines.index(DIAGNOSTIC)
        check(lines[at + 1:] == ["00 00 00 00 00 00", "12 00 00 00 30 00"],
              "drive %s after the diagnostic: %r" % (letter, lines[at + 1:]))
    check('E revision "1.10"' not in s.state(drives), "E reports the new revision at once")
    # A report that cannot be written: nothing runs, exit 29.
    code, _, _ = s.run(exe, ["/s", "/all", "/report=" + winpath(s.path("none/run.json"))],
                       drives=drives)
    check(code == 29, "unwritable report ended with %d" % code)


@case
def customer_hpdtocpe(s):
    """Customer HPDTOCPE: 3010 after a successful run (10 s wait), 8 without a target."""
    exe = s.updater("cpe", customer="HPDTOCPE")
    drives = s.drives("one", [("D", "1.05")])
    start = time.monotonic()
    code, shown, _ = s.run(exe, drives=drives)
    check(code == 3010, "HPDTOCPE run ended with %d" % code)
    check(not shown, "HPDTOCPE runs hidden")
    check(time.monotonic() - start >= 10, "no 10 s wait before the end")
    check(downloads(s, drives, "D")[0] == 1, "drive D was not updated")
    none = s.drives("none", [("D", "2.00")])
    code, _, _ = s.run(exe, drives=none)
    check(code == 8, "HPDTOCPE without target ended with %d" % code)


@case
def only_newer(s):
    """"Only newer" with drives already current: nothing written, exit 1638."""
    exe = s.updater("newer", options="no")
    drives = s.drives("current", [("D", "1.10"), ("E", "1.10")])
    code, _, _ = s.run(exe, ["/s", "/au", "/ae", "/all"], drives=drives)
    check(code == 1638, "only-newer run ended with %d" % code)
    for d in ("D", "E"):
        check(downloads(s, drives, d) == (0, 0), "drive %s was written" % d)


@case
def unattended(s):
    """/lw: the five-line result log in Wine's Windows folder, exit 1."""
    exe = s.updater("logged")
    drives = s.drives("one", [("D", "1.05")])
    log = os.path.join(s.prefix, "drive_c", "windows", "qzfwup.txt")
    if os.path.exists(log):
        os.remove(log)
    code, shown, _ = s.run(exe, ["/lw"], drives=drives)
    check(code == 1, "unattended run ended with %d" % code)
    check(not shown, "the unattended run showed a window")
    check(os.path.exists(log), "no qzfwup.txt in " + os.path.dirname(log))
    lines = open(log, "rb").read().decode().split("\r\n")
    want = ["FILE=LOGGED.EXE", "MODEL=KVS-Q42R", "OLD_REV=1.05", "NEW_REV=1.10", "STATUS=OK", ""]
    check(lines == want, "qzfwup.txt: %r" % lines)
    check(downloads(s, drives, "D")[0] == 1, "drive D was not updated")


@case
def unattended_disc(s):
    """/lw with a disc in the drive: ejected, then written; a tray that stays shut gets nothing."""
    exe = s.updater("logged")
    log = os.path.join(s.prefix, "drive_c", "windows", "qzfwup.txt")
    stuck = "fault = START_STOP_UNIT 1+ check 5 53 02"
    for name, more, status in (("disc", [], "OK"), ("stuck", [stuck], "NG")):
        drives = s.drives(name, [("D", "1.05", "medium = yes", *more)])
        if os.path.exists(log):
            os.remove(log)
        code, shown, _ = s.run(exe, ["/lw"], drives=drives)
        check(code == 1 and not shown, "%s: unattended run ended with %d" % (name, code))
        lines = open(log, "rb").read().decode().split("\r\n")
        check(lines[4] == "STATUS=" + status, "%s: qzfwup.txt: %r" % (name, lines))
        cdbs = [l.split(" | ")[1] for l in s.journal(drives) if l.startswith("D |")]
        check(EJECT in cdbs, "%s: no eject: %r" % (name, cdbs))
        if status == "OK":
            first_write = next(i for i, c in enumerate(cdbs) if c.startswith("3B"))
            check(cdbs.index(EJECT) < first_write, "%s: written before the eject" % name)
            check(downloads(s, drives, "D")[0] == 1, "%s: drive D was not updated" % name)
        else:
            check(not any(c.startswith(("3B", "1D")) for c in cdbs),
                  "%s: a drive that kept its disc was written" % name)


@case
def interactive(s):
    """A person's run: all drives, UPDATE, REBOOT caption, about box, EXIT."""
    exe = s.updater("upd")
    drives = s.drives("two", [("D", "1.05"), ("E", "1.05")])
    code, _, out = s.run(exe, drives=drives, steps=[
        "window Varnel 20 1013",
        'text 1021 "The firmware of the drive will be updated to a new version."',
        'text 1012 "Please select the target drive."',
        "entries 1013 3",
        'entry 1013 2 "*: All target drives. (2units)"',
        "selected 1013 0",
        "text 1016 1.05",
        "select 1013 2",
        "text 1016 ****",
        "text 1017 1.10",
        "text 1018 UPDATE",
        "text 1019 EXIT",
        'text 1020 "Please close other applications before updating."',
        s.shot("updater-idle"),
        "click 1011",
        # Busy: the window answers while both downloads run (3 s wait after each).
        'text 1020 "Now updating. It takes a few minutes. Don\'t turn off the PC."',
        "enabled 1011 0",
        "enabled 2 0",
        "text 1018 REBOOT 60",
        'text 1020 "Updating was completed successfully. Please reboot the PC."',
        "contains 1016 1.10",
        'entry 1013 0 "D: QZEN     DVD-RAM KVS-Q42R 1.10"',
        'entry 1013 1 "E: QZEN     DVD-RAM KVS-Q42R 1.10"',
        "enabled 1011 1",
        s.shot("updater-success"),
        "sys 16",
        'window "About Varnel"',
        'text 1030 "Copyright (C) The Varnel developers"',
        "visible 1030 1",
        s.shot("about"),
        "click 1",
        "gone",
        "window Varnel 20 1013",
        "click 2",
        "gone",
    ])
    check(code == 0, "interactive run ended with %d" % code)
    for d in ("D", "E"):
        check(downloads(s, drives, d)[0] == 1, "drive %s was not updated" % d)
    s.collect_shots()


@case
def message(s):
    """Customer DELL, drive at the package's revision: the message dialog at first display."""
    exe = s.updater("dell", customer="DELL")
    drives = s.drives("same", [("D", "1.10")])
    code, _, _ = s.run(exe, drives=drives, steps=[
        "window Varnel 20 1034",
        'text 1034 "The drive will be updated to same or older version."',
        s.shot("message"),
        "click 1",
        "gone",
        "window Varnel 20 1013",
        'text 1012 "The following drive will be updated."',
        "click 2",
        "gone",
    ])
    check(code == 259, "run ended with %d" % code)
    check(downloads(s, drives, "D") == (0, 0), "drive D was written")
    s.collect_shots()


@case
def aspi(s):
    """The ASPI transport (forced) against our WNASPI32.DLL over simulated drives."""
    exe = s.updater("upd")
    shutil.copy(s.aspi_dll, s.path("wnaspi32.dll"))
    # 1.3.0 refuses the command after new microcode once (UNIT ATTENTION): it goes out again.
    drives = s.drives("aspi", [("0.1.0", "1.05"), ("1.3.0", "1.05", "ua_after_microcode = yes")],
                      aspi=True)
    env = {"VARNEL_FORCE_ASPI": "1", "VARNEL_ASPI_DRIVES": winpath(drives),
           "WINEDLLOVERRIDES": "mscoree,mshtml=;wnaspi32=n"}
    code, shown, _ = s.run(exe, ["/s", "/au", "/ae", "/all"], env_extra=env)
    check(code == 0, "ASPI run ended with %d" % code)
    for d in ("0.1.0", "1.3.0"):
        diag, writes = downloads(s, drives, d)
        check(diag == 1 and writes >= 2, "drive %s: %d diagnostics, %d writes" % (d, diag, writes))
    check(s.state(drives).count('revision "1.10"') == 2, "ASPI drives not updated")
    check(any("check 6/3F/16" in l for l in s.journal(drives)), "no UNIT ATTENTION journaled")

    # Refusals without ASC/ASCQ through ASPI: HARDWARE ERROR 00/00 and BUSY are failures.
    refusing = s.drives("refusing", [("0.1.0", "1.05", "fault = SEND_DIAGNOSTIC 1 check 4 00 00"),
                                     ("1.3.0", "1.05", "fault = WRITE_BUFFER 1 status 08")],
                        aspi=True)
    env["VARNEL_ASPI_DRIVES"] = winpath(refusing)
    code, _, _ = s.run(exe, ["/s", "/au", "/ae", "/all"], env_extra=env)
    check(code == 259, "refused ASPI run ended with %d" % code)
    check('revision "1.10"' not in s.state(refusing), "a refusing drive counts as updated")


@case
def fit(s):
    """Every text of every dialog fits its control, measured with the control's own font."""
    rc, out = s.wine([s.winrun, "fit", winpath(s.exe)])
    check(rc == 0 and " 0 do not fit" in out, out)
    print(out.strip().splitlines()[-1])


@case
def progress(s):
    """A run that lasts: the progress bar appears and fills, the session may not end."""
    exe = s.updater("upd")
    # Each command takes 150 ms: the chunks of a download take a few seconds.
    drives = s.drives("slow", [("D", "1.05"), ("E", "1.05")], delay_ms=150)
    code, _, _ = s.run(exe, drives=drives, steps=[
        "window Varnel 20 1013",
        "visible 1035 0",
        "queryend 1",
        "select 1013 2",
        "text 1016 ****",
        "click 1011",
        "visible 1035 1",
        "position 1035 1 99 30",
        "queryend 0",
        s.shot("updater-progress"),
        "text 1018 REBOOT 60",
        "position 1035 100 100",
        "queryend 1",
        "click 2",
        "gone",
    ])
    check(code == 0, "run ended with %d" % code)
    for d in ("D", "E"):
        check(downloads(s, drives, d)[0] == 1, "drive %s was not updated" % d)
    s.collect_shots()


@case
def startup(s):
    """Started from cmd.exe in the usual ways, the program reads its own file."""
    exe = s.updater("upd")
    bare = s.path("bare.exe")
    shutil.copy(s.exe, bare)
    s.sample("sub")  # sub\sample.prm with its program files
    os.makedirs(s.path("other"))
    work = winpath(s.work)
    log = os.path.join(s.prefix, "drive_c", "windows", "qzfwup.txt")

    def fresh_drives(drives):
        for old in ("drives.journal", "drives.txt.state"):
            if os.path.exists(s.path(old)):
                os.remove(s.path(old))
        return s.drives("drives", drives)

    def from_cmd(name, lines):
        batch = s.path(name + ".bat")
        with open(batch, "w", newline="\r\n") as f:
            f.write("@echo off\n" + "\n".join(lines) + "\nexit /b %errorlevel%\n")
        env = dict(s.env, VARNEL_SIMULATE=winpath(s.path("drives.txt")))
        rc, out = s.wine([s.winrun, "run", "cmd.exe", "/c", winpath(batch)], env)
        codes = [int(l[5:]) for l in out.splitlines() if l.startswith("exit=")]
        check(rc == 0 and codes, "winrun: %s" % out)
        return codes[0], out

    cases = [
        ("relative name, plain argument in a subfolder",
         ["cd /d " + work, r"upd.exe sub\sample.prm /s /all"]),
        ("through PATH from another folder",
         ["set PATH=" + work + ";%PATH%", "cd /d " + work + r"\other", "upd /s /all"]),
        ("quoted full path from another folder",
         ["cd /d " + work + r"\other", '"%s" /s /all' % winpath(exe)]),
    ]
    for what, lines in cases:
        drives = fresh_drives([("D", "1.05"), ("E", "1.05")])
        code, out = from_cmd("case", lines)
        check(code == 0, "%s: exit %d\n%s" % (what, code, out))
        for d in ("D", "E"):
            check(downloads(s, drives, d)[0] == 1, "%s: drive %s was not updated" % (what, d))

    # A name without .exe and a plain argument in a subfolder: the log names the file as started.
    if os.path.exists(log):
        os.remove(log)
    fresh_drives([("D", "1.05")])
    code, out = from_cmd("logged", ["cd /d " + work, r"upd sub\sample.prm /lw"])
    check(code == 1, "unattended run: exit %d\n%s" % (code, out))
    lines = open(log, "rb").read().decode().split("\r\n") if os.path.exists(log) else []
    check(lines[:1] == ["FILE=UPD.EXE"] and "STATUS=OK" in lines, "qzfwup.txt: %r" % lines)

    # Maintenance mode with a parameter file in a subfolder: the engine is the program itself.
    code, out = from_cmd("generate", ["cd /d " + work, r"bare.exe sub\sample.prm /a /op=CMD"])
    check(code == 0, "generation: exit %d\n%s" % (code, out))
    made = s.path(os.path.join("sub", "CMD_1.10.exe"))
    check(os.path.exists(made), "nothing generated: %s" % os.listdir(s.path("sub")))
    info = s.pkg_tool("inspect", winpath(made))
    check('"offset": %d' % os.path.getsize(bare) in info, "engine is not bare.exe:\n" + info)


def fnv1a64(data):
    h = 0xcbf29ce484222325
    for b in data:
        h = ((h ^ b) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h


def written_chunks(session, drive_file, drive):
    """The fnv1a64 hashes of the WRITE BUFFER chunks a drive received, in order."""
    return [l.rsplit(" ", 1)[1] for l in session.journal(drive_file)
            if l.startswith(drive + " | 3B 0") and "| good | fnv1a64 " in l]


def expected_chunks(folder):
    """The hashes of the 32 KiB chunks of main.bin and core.bin, image by image."""
    hashes = []
    for name in ("main.bin", "core.bin"):
        image = open(os.path.join(folder, name), "rb").read()
        hashes += [fnv1a64(image[i:i + 32768]) for i in range(0, len(image), 32768)]
    return hashes


@case
def signed(s):
    """Authenticode-signed updaters (osslsigncode, a throwaway certificate): found, run, made."""
    key, cert = s.path("key.pem"), s.path("cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=Varnel e2e"], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def sign(unsigned, out):
        r = subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Varnel",
                            "-in", unsigned, "-out", out], capture_output=True, timeout=120)
        check(r.returncode == 0, "osslsigncode sign %s: %s" % (unsigned, r.stdout + r.stderr))
        r = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", out],
                           capture_output=True, timeout=120)
        check(r.returncode == 0 and b"Signature verification: ok" in r.stdout,
              "osslsigncode verify %s:\n%s" % (out, (r.stdout + r.stderr).decode()))

    def inspect(path):
        info = json.loads(s.pkg_tool("inspect", winpath(path)))
        check(info["valid"], "%s: package not valid" % path)
        return info

    # A generated updater, signed: verified, its package found in front of the signature,
    # and it updates two drives with exactly the program files' bytes.
    exe = s.updater("upd")
    signed_exe = s.path("signed.exe")
    sign(exe, signed_exe)
    info = inspect(signed_exe)
    check(info["signature"]["present"], "inspect sees no signature")
    check(info["package_end"] == os.path.getsize(exe) and
          info["file_size"] == os.path.getsize(signed_exe), "inspect: %r" % info)
    drives = s.drives("two", [("D", "1.05"), ("E", "1.05")])
    code, shown, _ = s.run(signed_exe, ["/s", "/all"], drives=drives)
    check(code == 0 and not shown, "signed updater ended with %d" % code)
    want = expected_chunks(s.path("fw-upd"))
    for d in ("D", "E"):
        check(downloads(s, drives, d)[0] == 1, "drive %s: no diagnostic" % d)
        check(written_chunks(s, drives, d) == want, "drive %s received other bytes" % d)

    # A signed engine: maintenance mode and varnel-pkg both drop its signature, and what
    # they make can be signed and verified.
    engine = s.path("varnel.exe")
    sign(s.exe, engine)
    engine_size = os.path.getsize(engine)
    folder = s.sample("fw-engine")
    code, _, _ = s.run(engine, [winpath(os.path.join(folder, "sample.prm")), "/a", "/op=SIG"])
    check(code == 0, "generation with a signed engine ended with %d" % code)
    made = [os.path.join(folder, "SIG_1.10.exe"), s.path("pkg.exe")]
    s.pkg_tool("build", "--engine", winpath(engine), "--prm",
               winpath(os.path.join(folder, "sample.prm")), "--out", winpath(made[1]))
    for path in made:
        info = inspect(path)
        check(not info["signature"]["present"], "%s keeps a signature" % path)
        check(info["offset"] < engine_size - 1000, "%s keeps the certificate table" % path)
        sign(path, path + ".signed")
        check(inspect(path + ".signed")["package_end"] == os.path.getsize(path),
              "signed %s: package not found" % path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True, help="the Windows build folder")
    parser.add_argument("--source", required=True, help="the source folder")
    parser.add_argument("cases", nargs="+", help="case names, or all")
    args = parser.parse_args()
    names = list(CASES) if args.cases == ["all"] else args.cases
    failed = []
    for name in names:
        if name not in CASES:
            sys.exit("unknown case %s (cases: %s)" % (name, ", ".join(CASES)))
        start = time.monotonic()
        try:
            with Display() as display:
                session = Session(args, name, display)
                try:
                    CASES[name](session)
                finally:
                    session.stop_wine()
            print("PASS %s (%.1f s)" % (name, time.monotonic() - start))
        except (Failure, subprocess.TimeoutExpired) as e:
            print("FAIL %s: %s" % (name, e))
            failed.append(name)
        sys.stdout.flush()
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
