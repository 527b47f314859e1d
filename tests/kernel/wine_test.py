#!/usr/bin/env python3
"""The Windows programs under Wine on a real kernel.

Boots a Linux guest under QEMU (software emulation, 2 processors) with Debian's standard
kernel (the cloud kernel has no 9p). The guest mounts the host's root folder read-only over
virtfs/9p under a tmpfs overlay and chroots into it, so that the host's own Wine runs there,
against the kernel's SCSI stack: Wine turns IOCTL_SCSI_PASS_THROUGH_DIRECT into SG_IO on
/dev/srN. The drives: two scsi_debug CD-ROM drives posing as targets, QEMU's virtio-scsi CD
drive with a disc and one without a medium. The 64-bit build runs under wine64; the 32-bit
build under wine32, whose i386 packages are unpacked on the host (never installed) and laid
into the guest's overlay only. For the 32-bit build the guest also runs what the host cannot:
its unit test programs, and its ASPI transport against the project's WNASPI32.DLL over
simulated drives. The guest (wine_guest_init.sh) runs the steps and stores their output; this
script judges them and prints one line per check.

Cached in the cache folder: the kernel package, the i386 packages (apt-get download with a
private apt state), the Wine prefix (made on the host: slow under emulation).

usage: wine_test.py --linux BUILD --win64 BUILD [--win32 BUILD] [--cache DIR]
                    [--accel tcg|kvm] [--keep]
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

import kernel_test as kt

HERE = Path(__file__).resolve().parent
KERNEL_META = "linux-image-amd64"
MODULES = ["9p", "9pnet_virtio", "overlay", "virtio_pci", "virtio_scsi", "virtio_blk", "sr_mod",
           "sg"]
DISC_MODEL, EMPTY_MODEL = "DVD-RAM KVS-Q43R", "DVD-RAM KVS-Q44R"
DRIVES = 4
PE_MACHINE = {"w64": b"\x64\x86", "w32": b"\x4c\x01"}
RUN_TIMEOUT = 240
GUEST_TIMEOUT = 2100
I386_TOP = "wine32:i386"
WINE_ENV = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}
# The dialog of the run into the drive without a medium: its message, then EXIT.
EMPTY_STEPS = ["window Varnel 180 1013", "contains 1020 \"Updating was failed\" 240", "dump",
               "click 2", "gone 60"]
# The 32-bit build's unit test programs (tests/test_<name>.exe), which only the guest can run.
# A program or test left out here is named in the output with its reason.
UNIT_LEFT_OUT = {}
UNIT_TESTS_LEFT_OUT = {
    "base": (["TickCount64.TheCounterStandInCountsMilliseconds"],
             "it allows Wine's tick count 20 ms of lag behind the performance counter over a "
             "100 ms sleep; under emulation on a busy host Wine's count lagged more (measured "
             "102 ms against 86 ms); the 64-bit build runs it on the host"),
    "download": (["FaultRuns.EveryCommandOfTheSequenceFails"],
                 "105 s of the program's 183 s under emulation on a busy host (a download per "
                 "failing command); "
                 "the 64-bit and Linux builds run it on the host"),
}
UNIT_TIMEOUT = 300
# The ASPI run against the project's WNASPI32.DLL: two simulated drives by ASPI address, the
# second refusing the command after new microcode once (UNIT ATTENTION).
ASPI_DRIVES = [("0.1.0", "1.05"), ("1.3.0", "1.05", "ua_after_microcode = yes")]
DIAGNOSTIC = "1D 01 00 00 06 00"


# --- cached parts -------------------------------------------------------------------------


def prepare_i386(cache):
    """The i386 Wine packages and their dependencies, unpacked into cache/i386/root (with
    /lib folded into /usr/lib, as on the merged-/usr host), for the guest's overlay."""
    top = cache / "i386"
    root = top / "root"
    if (top / ".unpacked").exists():
        return root
    state = top / "apt"
    (state / "lists" / "partial").mkdir(parents=True, exist_ok=True)
    (state / "cache" / "archives" / "partial").mkdir(parents=True, exist_ok=True)
    # A private apt state that knows i386: the host's dpkg stays amd64-only.
    opts = ["-o", "APT::Architectures::=amd64", "-o", "APT::Architectures::=i386",
            "-o", "Dir::State::Lists=%s" % (state / "lists"),
            "-o", "Dir::Cache=%s" % (state / "cache"), "-o", "APT::Sandbox::User=root"]
    debs = top / "debs"
    debs.mkdir(exist_ok=True)
    if not list(debs.glob("wine32_*.deb")):
        print("wine32: apt-get update (private state) and download of %s" % I386_TOP)
        subprocess.run(["apt-get", "-q"] + opts + ["update"], check=True, stdout=subprocess.DEVNULL)
        plan = kt.run(["apt-get", "-s", "--no-install-recommends"] + opts +
                      ["install", I386_TOP]).stdout
        names = [m for m in re.findall(r"^Inst (\S+)", plan, re.M) if m.endswith(":i386")]
        subprocess.run(["apt-get", "-q"] + opts + ["download"] + names, cwd=debs, check=True,
                       stdout=subprocess.DEVNULL)
    shutil.rmtree(root, ignore_errors=True)
    root.mkdir()
    for deb in sorted(debs.glob("*.deb")):
        kt.run(["dpkg-deb", "-x", str(deb), str(root)])
    for d in ("lib", "bin", "sbin"):
        if (root / d).is_dir() and not (root / d).is_symlink():
            (root / "usr" / d).mkdir(parents=True, exist_ok=True)
            kt.run(["cp", "-a", "%s/." % (root / d), str(root / "usr" / d)])
            shutil.rmtree(root / d)
    shutil.rmtree(root / "usr" / "share", ignore_errors=True)
    (top / ".unpacked").write_text("\n")
    return root


def wine_env(prefix, **extra):
    env = dict(os.environ, WINEPREFIX=str(prefix), **WINE_ENV, **extra)
    env.pop("DISPLAY", None)
    return env


def prepare_prefix(cache, i386_root):
    """A win64 prefix made on the host; with the i386 builtins given (WINEDLLPATH) its
    syswow64 is filled too, so that it serves wine32 in the guest as well. Drives D: to H:
    are CD drives; graphics go to Wine's null driver (no X server in the guest)."""
    prefix = cache / ("prefix-wow64" if i386_root else "prefix")
    if (prefix / ".ready").exists():
        return prefix
    shutil.rmtree(prefix, ignore_errors=True)
    extra = {}
    if i386_root:
        extra["WINEDLLPATH"] = str(i386_root / "usr/lib/i386-linux-gnu/wine")
    env = wine_env(prefix, **extra)
    print("wine: making the prefix %s" % prefix)
    subprocess.run(["wineboot", "-i"], env=env, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=600)
    for letter in "defgh":
        subprocess.run(["wine", "reg", "add", r"HKLM\Software\Wine\Drives", "/v", letter + ":",
                        "/t", "REG_SZ", "/d", "cdrom", "/f"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Graphics", "/t",
                    "REG_SZ", "/d", "null", "/f"], env=env, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120)
    subprocess.run(["wineserver", "-w"], env=env, timeout=120)
    (prefix / ".ready").write_text("\n")
    return prefix


# --- guest image --------------------------------------------------------------------------


def make_work(linux, builds, work):
    """Updaters and tools of the guest: for the scsi_debug drives (KVS-Q42R), the disc drive
    (Q43R) and the drive without a medium (Q44R), per Windows build, and the Linux build's
    updater for the scsi_debug drives (the reference sequence)."""
    pkg = str(linux / "tools" / "varnel-pkg")
    fw = work / "fw"
    kt.run([pkg, "sample", str(fw), "--model", "KVS-Q42R", "--revision", "1.10"])
    prm = str(fw / "sample.prm")
    kt.run([pkg, "build", "--engine", str(linux / "src" / "varnel"), "--prm", prm,
            "--out", str(work / "Q42R-linux"), "--product", "KVS-Q42R"])
    for arch, build in builds.items():
        engine = (build / "src" / "varnel.exe").read_bytes()
        machine = engine[int.from_bytes(engine[0x3C:0x40], "little") + 4:][:2]
        if machine != PE_MACHINE[arch]:
            raise SystemExit("wine test: %s is not a %s program" % (build, arch))
        for model in ("Q42R", "Q43R", "Q44R"):
            kt.run([pkg, "build", "--engine", str(build / "src" / "varnel.exe"), "--prm", prm,
                    "--out", str(work / ("%s-%s.exe" % (model, arch))),
                    "--product", "KVS-" + model])
        shutil.copy2(build / "tools" / "varnel-pkg.exe", work / ("varnel-pkg-%s.exe" % arch))
        # winrun reads the full exit code of a 32-bit program as well.
        winrun = build / "tests" / "e2e" / "winrun.exe"
        if not winrun.exists():
            winrun = builds["w64"] / "tests" / "e2e" / "winrun.exe"
        shutil.copy2(winrun, work / ("winrun-%s.exe" % arch))
    (work / "empty.steps").write_text("\n".join(EMPTY_STEPS) + "\n")
    if "w32" in builds:
        make_w32_own(linux, builds["w32"], work, prm)
    images = []
    for line in (fw / "sample.prm").read_text().split():
        if line.endswith(".bin"):
            images.append((fw / line).stat().st_size)
    return images


def unit_programs(build):
    """The names of the unit test programs of a Windows build (tests/test_NAME.exe)."""
    return sorted(p.name[5:-4] for p in (build / "tests").glob("test_*.exe"))


def make_w32_own(linux, build, work, prm):
    """The 32-bit build's own tests for the guest: its unit test programs, and an updater
    with the project's WNASPI32.DLL beside it over simulated drives by ASPI address."""
    units = work / "unit-w32"
    units.mkdir()
    for name in unit_programs(build):
        if name not in UNIT_LEFT_OUT:
            shutil.copy2(build / "tests" / ("test_%s.exe" % name), units)
    aspi = work / "aspi-w32"
    aspi.mkdir()
    kt.run([str(linux / "tools" / "varnel-pkg"), "build", "--engine",
            str(build / "src" / "varnel.exe"), "--prm", prm, "--out", str(aspi / "upd.exe"),
            "--product", "KVS-Q42R", "--filter", "1.**"])
    shutil.copy2(build / "tests" / "e2e" / "wnaspi32.dll", aspi / "wnaspi32.dll")
    lines = ["journal = aspi.journal", ""]
    for address, revision, *more in ASPI_DRIVES:
        lines += ["[drive]", "address = %s" % address, 'vendor = "%s"' % kt.SD_VENDOR,
                  'product = "%s"' % kt.SD_PRODUCT, 'revision = "%s"' % revision] + more + [""]
    (aspi / "aspi.txt").write_text("\n".join(lines))


def make_initramfs(tree, version, run_dir, conf):
    root = run_dir / "root"
    shutil.rmtree(root, ignore_errors=True)
    for d in ["bin", "etc", "proc", "sys", "dev"]:
        (root / d).mkdir(parents=True)
    busybox = kt.tool("busybox")
    if subprocess.run(["ldd", busybox], capture_output=True).returncode == 0:
        raise SystemExit("guest: %s is not the static busybox (busybox-static)" % busybox)
    shutil.copy2(busybox, root / "bin" / "busybox")
    (root / "bin" / "sh").symlink_to("busybox")
    modules = kt.module_files(tree, version, MODULES)
    kt.install_modules(tree, modules, root)
    sdebug = [ko for ko in kt.module_files(tree, version, ["scsi_debug"]) if ko not in modules]
    for ko in sdebug:
        dest = root / Path(ko).relative_to(tree)
        dest.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(ko, dest)
    with open(root / "etc/modules.order", "a") as f:
        f.write("".join("/%s\n" % Path(ko).relative_to(tree) for ko in sdebug[:-1]))
    conf = dict(conf, SCSI_DEBUG="/%s" % Path(sdebug[-1]).relative_to(tree))
    (root / "etc/wine-test.conf").write_text("".join("%s='%s'\n" % kv for kv in conf.items()))
    shutil.copy2(HERE / "wine_guest_init.sh", root / "init")
    (root / "init").chmod(0o755)
    files = sorted(str(p.relative_to(root)) for p in root.rglob("*"))
    image = run_dir / "initramfs.cpio"
    with open(image, "wb") as out:
        subprocess.run([kt.tool("cpio"), "-o", "-H", "newc", "--quiet"], cwd=root, check=True,
                       input="\n".join(files).encode(), stdout=out)
    return image


def boot(vmlinuz, initramfs, run_dir, accel, i386_root):
    kt.disc_image(run_dir / "disc.iso", "DISC")
    results = run_dir / "results.img"
    with open(results, "wb") as f:
        f.truncate(32 << 20)
    console = run_dir / "console.log"
    share = "security_model=none,readonly=on,multidevs=remap"
    cmd = [kt.tool("qemu-system-x86_64"), "-machine", "pc", "-accel", accel, "-smp", "2",
           "-m", "2048", "-nodefaults", "-display", "none", "-no-reboot",
           # With SMAP, QEMU 7.2's TCG crashes the guest kernel on Wine's system-call returns.
           "-cpu", "max,-smap",
           "-kernel", str(vmlinuz), "-initrd", str(initramfs),
           "-append", "console=ttyS0 panic=-1 quiet log_buf_len=8M",
           "-serial", "file:%s" % console,
           "-virtfs", "local,path=/,mount_tag=hostroot," + share,
           "-device", "virtio-scsi-pci,id=vs",
           "-drive", "if=none,id=cd0,media=cdrom,format=raw,file=%s" % (run_dir / "disc.iso"),
           "-device", "scsi-cd,bus=vs.0,drive=cd0,vendor=QZEN,product=%s,ver=1.00" % DISC_MODEL,
           "-drive", "if=none,id=cd1,media=cdrom",
           "-device", "scsi-cd,bus=vs.0,drive=cd1,vendor=QZEN,product=%s,ver=1.00" % EMPTY_MODEL,
           "-drive", "if=none,id=res,format=raw,file=%s" % results,
           "-device", "virtio-blk-pci,drive=res"]
    if i386_root:
        cmd += ["-virtfs", "local,path=%s,mount_tag=i386root,%s" % (i386_root, share)]
    return kt.run_guest(cmd, results, console, GUEST_TIMEOUT)


# --- checks -------------------------------------------------------------------------------


def winrun_exit(res, step):
    """The full exit code that winrun printed, or None."""
    m = re.search(r"^exit=(-?\d+)", res.text(step + ".out"), re.M)
    return int(m.group(1)) if m else None


def all_commands(log, drive):
    """Every CDB that the kernel logged as sent to drive, in order."""
    return kt.log_commands(log, drive, opcodes=tuple("%02x" % i for i in range(256)))


def download_span(log, drive):
    """The commands to drive from its first WRITE BUFFER to its last SEND DIAGNOSTIC, repeats
    included."""
    cmds = all_commands(log, drive)
    first = next((i for i, c in enumerate(cmds) if c[0] == "3b"), None)
    last = max((i for i, c in enumerate(cmds) if c[0] == "1d"), default=None)
    if first is None:
        return []
    return cmds[first:(last + 1 if last is not None and last > first else len(cmds))]


def repeats(cmds):
    return sum(1 for a, b in zip(cmds, cmds[1:]) if a == b)


def compare_download(res, step, ref_step, drives, images):
    """Problems of a run into drives against the Linux build's run of the same package."""
    want = kt.expected_download(images)
    problems = []
    for d in drives:
        got = download_span(res.text(step + ".log"), d)
        ref = download_span(res.text(ref_step + ".log"), d)
        if kt.without_repeats(ref) != want:
            problems.append("Linux reference to %s is not the expected download" % d)
        elif got != ref:
            k = next(i for i in range(max(len(got), len(ref)))
                     if i >= len(got) or i >= len(ref) or got[i] != ref[i])
            problems.append("%s command %d: %s, Linux sent %s" % (
                d, k + 1, " ".join(got[k]) if k < len(got) else "none",
                " ".join(ref[k]) if k < len(ref) else "none"))
        elif not repeats(got):
            problems.append("%s: no repeated command after UNIT ATTENTION" % d)
    return problems


def letters(res):
    return dict(line.split() for line in res.text("letters").splitlines() if line.strip())


def check_drives(res, arch):
    try:
        report = json.loads(res.text(arch + "_drives.out"))
        listed = report["drives"]
    except (ValueError, KeyError):
        return False, "no JSON (exit %s): %s" % (res.rc(arch + "_drives"),
                                                 res.text(arch + "_drives.out")[:300])
    if report.get("transport") != "pass-through":
        return False, "transport %r, want pass-through" % report.get("transport")
    devices = kt.parse_devices(res.text("devices.out"))
    devices.sort(key=lambda d: int(d["name"][2:]))
    letter_of = letters(res)
    if res.rc(arch + "_drives") != 0 or len(devices) != DRIVES or len(listed) != DRIVES:
        return False, "exit %s, %d CD devices, %d listed" % (res.rc(arch + "_drives"),
                                                            len(devices), len(listed))
    for entry, dev in zip(listed, devices):
        want = {"vendor": dev.get("vendor"), "product": dev.get("product"),
                "revision": dev.get("revision"), "letter": letter_of.get(dev["name"], "?").upper()}
        got = {key: entry.get(key) for key in want}
        if got != want:
            return False, "%s: listed %s, sg_inq %s" % (dev["name"], got, want)
    return True, "%d drives by letter (%s) with the INQUIRY data that sg_inq reads" % (
        DRIVES, " ".join("%s:=%s" % (letter_of[d["name"]].upper(), d["name"]) for d in devices))


def check_silent(res, arch, step, ref, count, images):
    drives = res.text("sd.drives").split()
    targets = drives[:count]
    problems = []
    code = winrun_exit(res, step)
    if code != 0:
        problems.append("exit %s" % code)
    problems += compare_download(res, step, ref, targets, images)
    log = res.text(step + ".log")
    others = set(re.findall(r"\[(sr\d+)\] .*CDB: Write Buffer", log)) - set(targets)
    if others:
        problems.append("WRITE BUFFER to %s" % ", ".join(sorted(others)))
    if problems:
        return False, "; ".join(problems)
    spans = [download_span(log, d) for d in targets]
    return True, "exit 0; %s: %s commands each, byte-exact with the Linux build's, " \
        "%s repeated after UNIT ATTENTION" % (
            " and ".join(targets), "/".join(str(len(s)) for s in spans),
            "/".join(str(repeats(s)) for s in spans))


def check_logged(res, arch, images):
    drive = res.text("sd.drives").split()[0]
    problems = []
    code = winrun_exit(res, arch + "_lw")
    if code != 1:
        problems.append("exit %s, want 1" % code)
    lines = res.text(arch + "_lw.txt").split("\r\n")
    want = ["FILE=Q42R-%s.EXE" % arch.upper(), "MODEL=KVS-Q42R", "OLD_REV=1.00",
            "NEW_REV=1.10", "STATUS=OK", ""]
    if lines != want:
        problems.append("qzfwup.txt %r" % lines)
    problems += compare_download(res, arch + "_lw", "linux_s", [drive], images)
    if problems:
        return False, "; ".join(problems)
    return True, "exit 1, qzfwup.txt in the prefix's Windows folder: %s; %s as from Linux" % (
        " ".join(want[:5]), drive)


def check_empty(res, arch):
    drive = res.text("empty.drives").strip()
    out = res.text(arch + "_empty.out")
    problems = []
    code = winrun_exit(res, arch + "_empty")
    if code != 259:
        problems.append("exit %s, want 259" % code)
    if "FAIL" in out:
        problems.append(out[out.find("FAIL"):][:200])
    data = kt.error_data(out)
    if not data or data[2][-1] != "2" or data[12:14] != ["3A", "00"]:
        problems.append("message %r" % (re.findall(r'1020 \w+ "([^"]*)"', out) or [out[-300:]]))
    sent = [c for c in kt.log_commands(res.text(arch + "_empty.log"), drive, ("3b",))]
    if len(sent) != 1:
        problems.append("%d WRITE BUFFER to %s" % (len(sent), drive))
    if problems:
        return False, "; ".join(problems)
    return True, "%s refused the first WRITE BUFFER: exit 259, the dialog says %s" % (
        drive, kt.sense_words(data))


def check_disc(res, arch):
    drive = res.text("disc.drives").strip()
    problems = []
    if res.rc(arch + "_disc_before") != 0:
        problems.append("%s not ready before the runs" % drive)
    if winrun_exit(res, arch + "_disc_refused") != 259:
        problems.append("refusal: exit %s" % winrun_exit(res, arch + "_disc_refused"))
    sent = [c for c in kt.log_commands(res.text(arch + "_disc_refused.log"), drive)]
    if sent:
        problems.append("refusal sent %s" % " ".join(sent[0]))
    silent = kt.log_commands(res.text(arch + "_disc_silent.log"), drive)
    ejects = [c for c in silent if c[:6] == ["1b", "00", "00", "00", "02", "00"]]
    if len(ejects) != 1 or silent[0][0] != "1b":
        problems.append("/s sent %s" % ", ".join(" ".join(c) for c in silent))
    if "medium not present" not in res.text(arch + "_disc_after.out").lower():
        problems.append("/s: disc still in %s" % drive)
    if problems:
        return False, "; ".join(problems)
    return True, "refused with exit 259 and nothing sent; /s ejected it (START STOP UNIT) " \
        "before its WRITE BUFFER, exit %s" % winrun_exit(res, arch + "_disc_silent")


def check_aspi(res, arch):
    """With ASPI forced, Wine's WNASPI32 either reports no host adapter (the program falls
    back to pass-through and lists the drives as without) or is taken and lists nothing."""
    out = res.text(arch + "_aspi_drives.out")
    try:
        report = json.loads(out)
    except ValueError:
        return False, "drive list: exit %s, %s" % (res.rc(arch + "_aspi_drives"), out[:200])
    try:
        plain = json.loads(res.text(arch + "_drives.out"))["drives"]
    except (ValueError, KeyError):
        plain = None
    transport, listed = report.get("transport"), report.get("drives")
    if res.rc(arch + "_aspi_drives") != 0:
        return False, "exit %s" % res.rc(arch + "_aspi_drives")
    if transport == "pass-through" and listed == plain:
        return True, "WNASPI32 loaded, no host adapter: falls back to pass-through, same %d " \
            "drives" % len(listed)
    if transport == "aspi" and listed == []:
        return True, "WNASPI32 taken: no drive listed, exit 0"
    return False, "transport %s, %s" % (transport, listed)


def check_unit(res, name):
    """A unit test program: exit 0, and GoogleTest's summary says every test passed."""
    step = "w32_unit_" + name
    out, rc, ms = res.text(step + ".out"), res.rc(step), res.ms(step)
    ran = re.search(r"^\[==========\] (\d+) tests? from .* ran", out, re.M)
    passed = re.search(r"^\[  PASSED  \] (\d+) tests?\.", out, re.M)
    failed = re.findall(r"^\[  FAILED  \] ([A-Za-z_]\w*\.\S+)", out, re.M)
    skipped = re.search(r"^\[  SKIPPED \] (\d+) tests?", out, re.M)
    if rc != 0 or not ran or not passed or failed:
        why = "exit %s" % rc + (" (timeout %d s)" % UNIT_TIMEOUT if rc == 124 else "")
        if failed:
            why += ", failed: %s" % " ".join(sorted(set(failed))[:8])
        elif not passed:
            why += ", no GoogleTest summary: %s" % out[-300:].strip()
        return False, why
    return True, "exit 0, [  PASSED  ] %s tests of %s%s in %.0f s" % (
        passed.group(1), ran.group(1),
        ", %s skipped" % skipped.group(1) if skipped else "", (ms or 0) / 1000)


def check_aspi_sim(res):
    """/s /au /ae /all through ASPI into two simulated drives: both updated, the UNIT
    ATTENTION after new microcode repeated."""
    code = winrun_exit(res, "w32_aspi_sim")
    journal = res.text("aspi.journal").splitlines()
    state = res.text("aspi.txt.state")
    problems = []
    if code != 0:
        problems.append("exit %s: %s" % (code, res.text("w32_aspi_sim.out")[-300:].strip()))
    counts = []
    for address, *_ in ASPI_DRIVES:
        lines = [l for l in journal if l.startswith(address + " |") and "| good" in l]
        diag = sum(1 for l in lines if DIAGNOSTIC in l)
        writes = sum(1 for l in lines if l.split(" | ")[1].startswith("3B"))
        counts.append("%s: %d WRITE BUFFER, %d SEND DIAGNOSTIC" % (address, writes, diag))
        if diag != 1 or writes < 2:
            problems.append(counts[-1])
    if state.count('revision "1.10"') != len(ASPI_DRIVES):
        problems.append("revision 1.10 in the state %d times, want %d" % (
            state.count('revision "1.10"'), len(ASPI_DRIVES)))
    if not any("check 6/3F/16" in l for l in journal):
        problems.append("no UNIT ATTENTION 6/3F/16 in the journal")
    if problems:
        return False, "; ".join(problems)
    return True, "exit 0; %s; both at revision 1.10; UNIT ATTENTION 6/3F/16 journaled" % (
        "; ".join(counts))


def timings(res, arches):
    def s(step):
        ms = res.ms(step)
        return "%.0f" % (ms / 1000) if ms is not None else "?"
    parts = ["boot %s s" % s("boot"), "Wine start %s s" % s("wine_start"),
             "Linux /s %s s, /s /all %s s" % (s("linux_s"), s("linux_all"))]
    for a in arches:
        parts.append("%s: %s" % (a, ", ".join(
            "%s %s" % (name, s("%s_%s" % (a, name)))
            for name in ("drives", "all", "lw", "empty", "disc_refused", "disc_silent",
                         "aspi_drives"))))
    units = sorted(n[9:-3] for n in res.files if n.startswith("w32_unit_") and n.endswith(".ms"))
    if units:
        parts.append("w32 own tests: %s, ASPI %s" % (
            ", ".join("test_%s %s" % (n, s("w32_unit_" + n)) for n in units), s("w32_aspi_sim")))
    return "; ".join(parts)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--linux", required=True, help="Linux build folder (varnel-pkg, varnel)")
    ap.add_argument("--win64", required=True, help="x86-64 Windows build folder")
    ap.add_argument("--win32", help="i686 Windows build folder (runs under wine32)")
    ap.add_argument("--cache", help="kernel, packages and prefix (default: LINUX/../kernel/wine)")
    ap.add_argument("--accel", default="tcg", help="QEMU accelerator (default: tcg)")
    ap.add_argument("--keep", action="store_true", help="keep the guest's files")
    args = ap.parse_args()
    linux = Path(args.linux).resolve()
    builds = {"w64": Path(args.win64).resolve()}
    if args.win32:
        builds["w32"] = Path(args.win32).resolve()
    for build, files in [(linux, ["src/varnel", "tools/varnel-pkg"])] + [
            (b, ["src/varnel.exe", "tools/varnel-pkg.exe"]) for b in builds.values()] + [
            (builds["w64"], ["tests/e2e/winrun.exe"])]:
        for name in files:
            if not (build / name).exists():
                raise SystemExit("wine test: %s is missing (build it first)" % (build / name))
    cache = Path(args.cache).resolve() if args.cache else linux.parent / "kernel" / "wine"
    cache.mkdir(parents=True, exist_ok=True)

    vmlinuz, tree, version = kt.prepare_kernel(cache, KERNEL_META)
    i386_root = prepare_i386(cache) if "w32" in builds else None
    prefix = prepare_prefix(cache, i386_root)
    run_dir = cache / "run"
    shutil.rmtree(run_dir, ignore_errors=True)
    work = run_dir / "work"
    work.mkdir(parents=True)
    images = make_work(linux, builds, work)
    conf = {"SD_VENDOR": kt.SD_VENDOR, "SD_PRODUCT": kt.SD_PRODUCT, "SD_REV": kt.SD_REV,
            "DISC_MODEL": DISC_MODEL, "EMPTY_MODEL": EMPTY_MODEL, "DRIVES": DRIVES,
            "SCSI_LOG_LEVEL": kt.SCSI_LOG_LEVEL, "RUN_TIMEOUT": RUN_TIMEOUT,
            "GUEST_SCRIPT": HERE / "wine_guest_init.sh", "HOST_WORK": work,
            "WINEPREFIX": prefix, "ARCHES": " ".join(builds),
            "I386_ROOT": i386_root or "", "UNIT_TIMEOUT": UNIT_TIMEOUT,
            "UNIT_TESTS": " ".join(n for n in unit_programs(builds["w32"])
                                   if n not in UNIT_LEFT_OUT) if "w32" in builds else "",
            **{"UNIT_FILTER_" + n: "-" + ":".join(tests)
               for n, (tests, _) in UNIT_TESTS_LEFT_OUT.items()}}
    initramfs = make_initramfs(tree, version, run_dir, conf)
    print("guest: kernel %s, %s, 2 processors, Wine for %s; logs in %s" % (
        version, args.accel, " and ".join(builds), run_dir))
    files, elapsed = boot(vmlinuz, initramfs, run_dir, args.accel, i386_root)
    res = kt.Results(files)

    names = {"w64": "64-bit varnel.exe under wine64", "w32": "32-bit varnel.exe under wine32"}
    checks = []
    for a in builds:
        checks += [
            ("%s: the drive list" % names[a], lambda r, a=a: check_drives(r, a)),
            ("%s: /s /all into both scsi_debug drives at once" % names[a],
             lambda r, a=a: check_silent(r, a, a + "_all", "linux_all", 2, images)),
            ("%s: /lw and its result log" % names[a], lambda r, a=a: check_logged(r, a, images)),
            ("%s: a drive without a medium refuses WRITE BUFFER" % names[a],
             lambda r, a=a: check_empty(r, a)),
            ("%s: a disc in the drive: refused; /s ejects it" % names[a],
             lambda r, a=a: check_disc(r, a)),
            ("%s: forced ASPI with Wine's WNASPI32" % names[a],
             lambda r, a=a: check_aspi(r, a)),
        ]
    if "w32" in builds:
        for name in unit_programs(builds["w32"]):
            if name in UNIT_LEFT_OUT:
                print("left out: 32-bit test_%s.exe under wine32: %s" % (name, UNIT_LEFT_OUT[name]))
            else:
                checks.append(("32-bit test_%s.exe under wine32" % name,
                               lambda r, n=name: check_unit(r, n)))
                if name in UNIT_TESTS_LEFT_OUT:
                    tests, why = UNIT_TESTS_LEFT_OUT[name]
                    print("left out of 32-bit test_%s.exe under wine32: %s: %s" % (
                        name, " ".join(tests), why))
        checks.append(("32-bit varnel.exe under wine32: ASPI with the project's WNASPI32.DLL, "
                       "/s /au /ae /all into two simulated drives", check_aspi_sim))
    print("== Wine kernel test summary: guest %.0f s (%s)" % (elapsed, timings(res, builds)))
    return kt.judge(checks, res if files else None, run_dir, args.keep)


if __name__ == "__main__":
    sys.exit(main())
