#!/usr/bin/env python3
"""The Linux programs on a real kernel.

Boots a small Linux guest under QEMU (software emulation, 2 processors) with a Debian cloud
kernel and an initramfs that holds varnel, varnel-pkg, busybox and sg3-utils, and checks the
programs through the kernel's sr and sg drivers: scsi_debug CD-ROM drives posing as targets,
QEMU's own virtio-scsi and IDE CD drives with disc images. The guest (guest_init.sh) runs
the steps and stores their output; this script judges them and prints one line per check.

The kernel package is fetched with `apt-get download` into the cache folder and unpacked
there; later runs use the cache and download nothing.

usage: kernel_test.py --build BUILD_DIR [--cache DIR] [--accel tcg|kvm] [--keep]
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
KERNEL_META = "linux-image-cloud-amd64"
MODULES = ["sr_mod", "sg", "virtio_scsi", "ata_piix", "virtio_pci", "virtio_blk"]
SD_VENDOR, SD_PRODUCT, SD_REV = "QZEN", "DVD-RAM KVS-Q42R", "1.00"
QEMU_TARGET_VENDOR, QEMU_TARGET_MODEL = "QZEN", "DVD-RAM KVS-Q43R"
QEMU_DRIVES = 2
# scsi_debug answer delay of the interrupted runs, in jiffies (4 ms each on this kernel).
SLOW_DELAY = 10
# The kernel logs each command as it is sent (SCSI_LOG_MLQUEUE level 2).
SCSI_LOG_LEVEL = 2 << 9
RUN_TIMEOUT = 90
GUEST_TIMEOUT = 400
SECTOR = 2048


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, text=True, capture_output=True, **kw)


def as_root(cmd):
    return cmd if os.geteuid() == 0 else ["sudo"] + cmd


def tool(name):
    """A host program, also from the sbin folders that a user's PATH may lack."""
    found = shutil.which(name, path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
    if not found:
        raise SystemExit("kernel test: %s is missing (bash scripts/setup.sh installs it)" % name)
    return found


# --- kernel -------------------------------------------------------------------------------


def kernel_package(meta=KERNEL_META):
    """Name of the kernel package that the meta package depends on."""
    for attempt in range(2):
        try:
            out = run(["apt-cache", "depends", meta]).stdout
            found = re.findall(r"Depends: (linux-image-\S+)", out)
            if found:
                return found[0]
        except subprocess.CalledProcessError:
            pass
        if attempt == 0:
            print("kernel: package lists lack %s, running apt-get update" % meta)
            subprocess.run(as_root(["apt-get", "update", "-q"]), check=True)
    raise SystemExit("kernel: apt knows no %s" % meta)


def prepare_kernel(cache, meta=KERNEL_META):
    """Returns (vmlinuz, modules root, version); downloads and unpacks on first use."""
    done = sorted(cache.glob("kernel-*/.unpacked"))
    if not done:
        package = kernel_package(meta)
        debs = cache / "deb"
        debs.mkdir(parents=True, exist_ok=True)
        if not list(debs.glob(package + "_*.deb")):
            print("kernel: apt-get download %s" % package)
            # As root apt would hand the download to its sandbox user, who cannot write here.
            sandbox = ["-o", "APT::Sandbox::User=root"] if os.geteuid() == 0 else []
            subprocess.run(["apt-get", "download", "-q"] + sandbox + [package], cwd=debs,
                           check=True)
        deb = sorted(debs.glob(package + "_*.deb"))[-1]
        tree = cache / ("kernel-" + package)
        shutil.rmtree(tree, ignore_errors=True)
        run(["dpkg-deb", "-x", str(deb), str(tree)])
        version = next((tree / "lib/modules").iterdir()).name
        run([tool("depmod"), "-b", str(tree), version])
        (tree / ".unpacked").write_text(version + "\n")
        done = [tree / ".unpacked"]
    tree = done[-1].parent
    version = done[-1].read_text().strip()
    return tree / "boot" / ("vmlinuz-" + version), tree, version


def module_files(tree, version, names):
    """The .ko files that names need, in load order."""
    files = []
    for name in names:
        out = run([tool("modprobe"), "-d", str(tree), "-S", version, "--show-depends", name]).stdout
        for line in out.splitlines():
            parts = line.split()
            if parts and parts[0] == "insmod" and parts[1] not in files:
                files.append(parts[1])
    return files


# --- guest image --------------------------------------------------------------------------


def install_modules(tree, modules, root):
    """Copies the modules into the initramfs root and lists them, in load order, in
    /etc/modules.order."""
    for ko in modules:
        dest = root / Path(ko).relative_to(tree)
        dest.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(ko, dest)
    (root / "etc/modules.order").write_text(
        "".join("/%s\n" % Path(ko).relative_to(tree) for ko in modules))


def copy_with_libraries(programs, root):
    """Copies programs into root/bin and the shared libraries they load into root."""
    libs = set()
    for program in programs:
        shutil.copy2(program, root / "bin" / Path(program).name)
        out = run(["ldd", str(program)]).stdout
        libs.update(re.findall(r"(/\S+\.so[.\d]*)", out))
    for lib in libs:
        dest = root / lib.lstrip("/")
        dest.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(os.path.realpath(lib), dest)


def make_updaters(pkg, engine, work):
    """Sample firmware and the updaters of the guest: the scsi_debug drives' (small and
    large firmware) and the one whose target is QEMU's virtio-scsi CD drive."""
    fw = work / "fw"
    big = work / "fwbig"
    run([pkg, "sample", str(fw), "--model", "KVS-Q42R", "--revision", "1.10"])
    run([pkg, "sample", str(big), "--model", "KVS-Q42R", "--revision", "1.10",
         "--size", "3000000"])
    updaters = {"UPDATER_SD": ("Q42R1.10", fw, "KVS-Q42R"),
                "UPDATER_BIG": ("Q42R1.10-large", big, "KVS-Q42R"),
                "UPDATER_DISC": ("Q43R1.10", fw, "KVS-Q43R")}
    for name, prm, product in updaters.values():
        run([pkg, "build", "--engine", str(engine), "--prm", str(prm / "sample.prm"),
             "--out", str(work / name), "--product", product])
    images = []
    for line in (fw / "sample.prm").read_text().split():
        if line.endswith(".bin"):
            images.append((fw / line).stat().st_size)
    return {key: value[0] for key, value in updaters.items()}, images


def make_initramfs(build, tree, version, run_dir):
    root = run_dir / "root"
    shutil.rmtree(root, ignore_errors=True)
    for d in ["bin", "etc", "proc", "sys", "dev", "tmp", "work", "results"]:
        (root / d).mkdir(parents=True)
    busybox = tool("busybox")
    probe = subprocess.run(["ldd", busybox], text=True, capture_output=True)
    if probe.returncode == 0:
        raise SystemExit("guest: %s is not the static busybox (busybox-static)" % busybox)
    shutil.copy2(busybox, root / "bin" / "busybox")
    pkg = build / "tools" / "varnel-pkg"
    engine = build / "src" / "varnel"
    copy_with_libraries([engine, pkg] + [tool(t) for t in ("sg_inq", "sg_turs", "sg_start")],
                        root)
    modules = module_files(tree, version, MODULES)
    install_modules(tree, modules, root)
    sdebug = module_files(tree, version, ["scsi_debug"])[-1]
    dest = root / Path(sdebug).relative_to(tree)
    dest.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy2(sdebug, dest)

    updaters, images = make_updaters(pkg, engine, root / "work")
    conf = {"SCSI_DEBUG": "/%s" % Path(sdebug).relative_to(tree), "SD_VENDOR": SD_VENDOR,
            "SD_PRODUCT": SD_PRODUCT, "SD_REV": SD_REV, "QEMU_TARGET_MODEL": QEMU_TARGET_MODEL,
            "QEMU_DRIVES": QEMU_DRIVES, "SLOW_DELAY": SLOW_DELAY,
            "SCSI_LOG_LEVEL": SCSI_LOG_LEVEL, "RUN_TIMEOUT": RUN_TIMEOUT, **updaters}
    (root / "etc/kernel-test.conf").write_text(
        "".join("%s='%s'\n" % item for item in conf.items()))
    (root / "etc/passwd").write_text("root:x:0:0:root:/root:/bin/sh\n"
                                     "tester:x:1000:1000:tester:/tmp:/bin/sh\n")
    (root / "etc/group").write_text("root:x:0:\ncdrom:x:24:tester\ntester:x:1000:\n")
    init = root / "init"
    shutil.copy2(HERE / "guest_init.sh", init)
    init.chmod(0o755)
    files = sorted(str(p.relative_to(root)) for p in root.rglob("*"))
    image = run_dir / "initramfs.cpio"
    with open(image, "wb") as out:
        subprocess.run([tool("cpio"), "-o", "-H", "newc", "--quiet"], cwd=root, check=True,
                       input="\n".join(files).encode(), stdout=out)
    return image, images


def disc_image(path, label):
    """A data disc image: 512 sectors, a volume descriptor at sector 16."""
    data = bytearray(512 * SECTOR)
    data[16 * SECTOR:16 * SECTOR + 6] = b"\x01CD001"
    data[16 * SECTOR + 40:16 * SECTOR + 72] = label.encode().ljust(32)
    data[17 * SECTOR:17 * SECTOR + 6] = b"\xffCD001"
    path.write_bytes(bytes(data))


def boot(vmlinuz, initramfs, run_dir, accel):
    for name in ("disc.iso", "ide.iso"):
        disc_image(run_dir / name, name.split(".")[0].upper())
    results = run_dir / "results.img"
    with open(results, "wb") as f:
        f.truncate(32 << 20)
    console = run_dir / "console.log"
    cmd = [tool("qemu-system-x86_64"), "-machine", "pc", "-accel", accel, "-smp", "2", "-m", "512",
           "-nodefaults", "-display", "none", "-no-reboot",
           "-kernel", str(vmlinuz), "-initrd", str(initramfs),
           "-append", "console=ttyS0 panic=-1 quiet log_buf_len=8M",
           "-serial", "file:%s" % console,
           "-device", "virtio-scsi-pci,id=vs",
           "-drive", "if=none,id=cd0,media=cdrom,format=raw,file=%s" % (run_dir / "disc.iso"),
           "-device", "scsi-cd,bus=vs.0,drive=cd0,vendor=%s,product=%s,ver=1.00"
           % (QEMU_TARGET_VENDOR, QEMU_TARGET_MODEL),
           "-drive", "if=ide,index=2,media=cdrom,format=raw,file=%s" % (run_dir / "ide.iso"),
           "-drive", "if=none,id=res,format=raw,file=%s" % results,
           "-device", "virtio-blk-pci,drive=res"]
    return run_guest(cmd, results, console, GUEST_TIMEOUT)


def run_guest(cmd, results, console, timeout):
    """Runs QEMU to its end; returns the files of the results disk (a tar archive) by name,
    and the seconds it took."""
    start = time.monotonic()
    try:
        status = subprocess.run(cmd, timeout=timeout, stdin=subprocess.DEVNULL).returncode
        if status != 0:
            print("guest: QEMU exited with status %d" % status)
    except subprocess.TimeoutExpired:
        print("guest: no end after %d s; console: %s" % (timeout, console))
    elapsed = time.monotonic() - start
    out = {}
    try:
        with tarfile.open(results) as tar:
            for member in tar.getmembers():
                if member.isfile():
                    out[Path(member.name).name] = tar.extractfile(member).read().decode(
                        "utf-8", "replace")
    except tarfile.TarError:
        pass
    return out, elapsed


# --- checks -------------------------------------------------------------------------------


class Results:
    def __init__(self, files):
        self.files = files

    def text(self, name):
        return self.files.get(name, "")

    def rc(self, step):
        value = self.text(step + ".rc").strip()
        return int(value) if value.isdigit() else None

    def ms(self, name):
        value = self.text(name + ".ms").strip()
        return int(value) if value.isdigit() else None


def logged(log, drive, opcodes=("3b", "1d", "1b")):
    """(line number, CDB as a byte list) of the commands of the given opcodes that the kernel
    logged as sent to drive."""
    found = []
    for number, line in enumerate(log.splitlines()):
        m = re.search(r"\[(sr\d+)\] .*CDB: [A-Za-z/ ()-]*?((?:[0-9a-f]{2} ?)+)$", line)
        if m and m.group(1) == drive:
            cdb = m.group(2).split()
            if cdb[0] in opcodes:
                found.append((number, cdb))
    return found


def log_commands(log, drive, opcodes=("3b", "1d", "1b")):
    return [cdb for _, cdb in logged(log, drive, opcodes)]


def expected_download(images):
    """The WRITE BUFFER chunks (mode, offset, length) and the SEND DIAGNOSTIC of a download."""
    cdbs = []
    for total in images:
        offset = 0
        while offset < total:
            length = min(total - offset, 0x8000)
            mode = 2 if total - offset > 0x8000 else 5
            cdbs.append(["3b", "%02x" % mode, "00"] + ["%02x" % b for b in offset.to_bytes(3, "big")]
                        + ["%02x" % b for b in length.to_bytes(3, "big")] + ["00"])
            offset += length
    cdbs.append(["1d", "01", "00", "00", "06", "00"])
    return cdbs


def without_repeats(cdbs):
    """A command repeated at once (after UNIT ATTENTION) counts once."""
    out = []
    for cdb in cdbs:
        if not out or out[-1] != cdb:
            out.append(cdb)
    return out


def error_data(output):
    m = re.findall(r"Error data = ((?:[0-9A-F]{2} )+)\)", output)
    return m[-1].split() if m else None


def sense_words(data):
    if not data or len(data) < 14:
        return "no error data"
    return "sense key %s, ASC/ASCQ %s/%s" % (data[2][-1], data[12], data[13])


def parse_devices(text):
    devices = []
    for line in text.splitlines():
        if line.startswith("@device "):
            _, name, hctl = line.split()
            devices.append({"name": name, "hctl": hctl})
        elif line.startswith("@sysfs_") and devices:
            key, _, value = line[1:].partition(" ")
            devices[-1][key] = value
        elif devices:
            m = re.match(r" (Vendor|Product) identification: (.*)$", line)
            r = re.match(r" Product revision level: (.*)$", line)
            if m:
                devices[-1][m.group(1).lower()] = m.group(2)
            elif r:
                devices[-1]["revision"] = r.group(1)
    return devices


def check_drives(res):
    try:
        report = json.loads(res.text("drives_json.out"))
        listed = report["drives"]
    except (ValueError, KeyError):
        return False, "no JSON: %s" % res.text("drives_json.out")[:200]
    if report.get("transport") != "sg_io":
        return False, "transport %r, want sg_io" % report.get("transport")
    devices = parse_devices(res.text("devices.out"))
    devices.sort(key=lambda d: int(d["name"][2:]))
    if res.rc("drives_json") != 0 or len(devices) != 2 + QEMU_DRIVES:
        return False, "exit %s, %d CD devices" % (res.rc("drives_json"), len(devices))
    if len(listed) != len(devices):
        return False, "%d drives listed for %d CD devices" % (len(listed), len(devices))
    for entry, dev in zip(listed, devices):
        h, _, t, lun = (int(x) for x in dev["hctl"].split(":"))
        want = {"vendor": dev.get("vendor"), "product": dev.get("product"),
                "revision": dev.get("revision"), "address": "%d.%d.%d" % (h & 0xFF, t, lun),
                "device": dev["name"], "scsi_address": dev["hctl"]}
        got = {key: entry.get(key) for key in want}
        if got != want:
            return False, "%s: listed %s, sg_inq %s" % (dev["name"], got, want)
        label = "%s [%s] " % (dev["name"], dev["hctl"])
        if not entry.get("label", "").startswith(label):
            return False, "%s: label %r, want it to begin with %r" % (
                dev["name"], entry.get("label"), label)
        kernel = tuple(dev.get("sysfs_" + k, "").rstrip() for k in ("vendor", "model", "rev"))
        if kernel != tuple(str(want[k]).rstrip() for k in ("vendor", "product", "revision")):
            return False, "%s: sysfs says %s" % (dev["name"], kernel)
    return True, "%d drives, identity, device name and host:channel:target:lun as sg_inq and " \
        "sysfs report" % len(devices)


def check_unprivileged(res):
    out = res.text("unpriv.out")
    listing = res.text("unpriv_drives.out")
    problems = []
    if "uid=1000(tester)" not in res.text("as_user.out"):
        problems.append("not run as tester: %s" % res.text("as_user.out").strip())
    if res.rc("unpriv_drives") != 0 or len(re.findall(r"^sr\d+ \[", listing, re.M)) != 2 + QEMU_DRIVES:
        problems.append("tester's drive list: exit %s, %s" % (res.rc("unpriv_drives"), listing[:300]))
    elif "needs root or the capability CAP_SYS_RAWIO" not in listing:
        problems.append("the drive list does not say what updating needs")
    if res.rc("unpriv") != 3:
        problems.append("exit status %s" % res.rc("unpriv"))
    # Said at once (with text 117), and again when UPDATE is refused (with text 129).
    if out.count("This process lacks the privilege") < 2 or \
            "Updating was failed. Please repeat that." not in out or \
            "setcap cap_sys_rawio+ep" not in out:
        problems.append("no permission message before and after UPDATE: %s" % out[-600:])
    sent = sorted(set(re.findall(r"\[(sr\d+)\] .*CDB: (Write Buffer|Send Diagnostic)",
                                 res.text("unpriv.log"))))
    if sent:
        problems.append("sent %s" % ", ".join("%s to %s" % (c, d) for d, c in sent))
    # In a user namespace the check passes; the kernel refuses the first WRITE BUFFER.
    userns = res.text("userns.out")
    refusals = re.findall(r"^The system refused to send WRITE BUFFER to the drive (sr\d+) "
                          r"\[[\d:]+\] for lack of privilege", userns, re.M)
    if res.rc("userns") != 3 or not refusals or " is gone" in userns:
        problems.append("user namespace: exit %s, %s" % (
            res.rc("userns"), " / ".join(userns[userns.rfind("Updating was failed"):]
                                         .splitlines()[:2])))
    sent = sorted(set(re.findall(r"\[(sr\d+)\] .*CDB: (Write Buffer|Send Diagnostic)",
                                 res.text("userns.log"))))
    if sent:
        problems.append("user namespace: sent %s" % ", ".join("%s to %s" % (c, d)
                                                              for d, c in sent))
    if problems:
        return False, "; ".join(problems)
    cap = re.search(r"CapEff:\s*(\S+)", res.text("unpriv_status.out"))
    return True, "tester (CapEff %s) lists %d drives, refused before any run; root of a user " \
        "namespace refused by the kernel (%s); exit 3, no WRITE BUFFER or SEND DIAGNOSTIC" % (
            cap.group(1) if cap else "?", 2 + QEMU_DRIVES, ", ".join(sorted(set(refusals))))


def check_update(res, images):
    drives = res.text("update.drives").split()
    out = res.text("update.out")
    log = res.text("update.log")
    want = expected_download(images)
    problems = []
    if len(drives) != 2:
        problems.append("%d scsi_debug drives" % len(drives))
    sent = {d: without_repeats(log_commands(log, d, ("3b", "1d"))) for d in drives}
    for d in drives:
        n = len(sent[d])
        if sent[d] == want[:n] and n < len(want):
            problems.append("%s received the first %d of %d commands" % (d, n, len(want)))
        elif sent[d] != want:
            k = next(i for i in range(n) if i >= len(want) or sent[d][i] != want[i])
            problems.append("%s command %d was %s, want %s" % (
                d, k + 1, " ".join(sent[d][k]), " ".join(want[k]) if k < len(want) else "none"))
    spans = [(found[0][0], found[-1][0]) for found in
             (logged(log, d, ("3b", "1d")) for d in drives) if found]
    if len(spans) == 2 and (spans[0][1] < spans[1][0] or spans[1][1] < spans[0][0]):
        problems.append("the downloads ran one after the other")
    others = set(re.findall(r"\[(sr\d+)\] .*CDB: Write Buffer", log)) - set(drives)
    if others:
        problems.append("WRITE BUFFER to %s" % ", ".join(sorted(others)))
    if res.rc("update") != 0 or "Updating was completed successfully" not in out:
        data = error_data(out)
        why = "exit status %s" % res.rc("update")
        if data:
            why += ", drive answered %s" % sense_words(data)
            if data[2].endswith("6") and data[12:14] == ["3F", "16"]:
                why += " (UNIT ATTENTION: microcode changed, after the mode-5 WRITE BUFFER)"
        problems.insert(0, why)
    problems += after_download(log, out, drives)
    if problems:
        return False, "; ".join(problems)
    return True, "both drives at the same time: %d WRITE BUFFER + SEND DIAGNOSTIC in order, " \
        "exit 0; then TEST UNIT READY + INQUIRY, \"effective after a restart\"" % (len(want) - 1)


TUR = ["00", "00", "00", "00", "00", "00"]
LONG_INQUIRY = ["12", "00", "00", "00", "30", "00"]


def asked_again(log, drive):
    """None when drive got TEST UNIT READY, then the 48-byte INQUIRY after its last SEND
    DIAGNOSTIC; else what it got. (The sr driver polls with TEST UNIT READY of its own.)"""
    cdbs = without_repeats(log_commands(log, drive, ("1d", "00", "12")))
    at = [i for i, c in enumerate(cdbs) if c[0] == "1d"]
    if not at:
        return "no diagnostic"
    after = cdbs[at[-1] + 1:]
    if LONG_INQUIRY in after:
        first = after[:after.index(LONG_INQUIRY)]
        if first and all(c == TUR for c in first):
            return None
    return [" ".join(c) for c in after]


def after_download(log, out, drives):
    """Each drive asked again after its SEND DIAGNOSTIC (TEST UNIT READY, then the 48-byte
    INQUIRY), and, as scsi_debug keeps its revision, said to be effective after a restart."""
    problems = []
    for d in drives:
        got = asked_again(log, d)
        if got:
            problems.append("%s after the diagnostic: %s" % (d, got))
        if not re.search(r"^%s \[[\d:]+\]: updated, effective after a restart \(the drive still "
                         r"reports 1\.00\)\.$" % d, out, re.M):
            problems.append("%s: not said to be effective after a restart" % d)
    return problems


def check_report(res):
    drives = res.text("update.drives").split()
    problems = []
    if res.rc("report_run") != 0:
        problems.append("exit status %s: %s" % (res.rc("report_run"), res.text("report_run.out")[-300:]))
    try:
        report = json.loads(res.text("report.json"))
    except ValueError:
        return False, "no JSON report: %r" % res.text("report.json")[:200]
    head = (report.get("updater"), report.get("revision"), report.get("exit_code"))
    if head != ("Q42R1.10", "1.10", 0):
        problems.append("report %s" % (head,))
    listed = report.get("drives", [])
    names = [d.get("drive", "").split(" ")[0] for d in listed]
    if names != drives:
        problems.append("report drives %s, want %s" % (names, drives))
    for d in listed:
        got = {k: d.get(k) for k in ("vendor", "product", "revision_before", "result", "error",
                                     "revision_after", "verified")}
        want = {"vendor": SD_VENDOR, "product": SD_PRODUCT, "revision_before": SD_REV,
                "result": "updated", "error": "", "revision_after": SD_REV, "verified": False}
        if got != want:
            problems.append("%s: %s" % (d.get("drive"), got))
    log = res.text("report_run.log")
    for d in drives:
        got = asked_again(log, d)
        if got:
            problems.append("%s after the diagnostic: %s" % (d, got))
    if problems:
        return False, "; ".join(problems)
    return True, "/s /all /report=: exit 0, %d drives \"updated\", verified false, revision 1.00 " \
        "before and after" % len(listed)


def check_disc(res):
    target, ide = (res.text("disc.drives").split() + ["?", "?"])[:2]
    problems = []
    if res.rc("disc_before") != 0:
        problems.append("%s not ready before the runs" % target)
    out = res.text("disc_refused.out")
    if res.rc("disc_refused") != 3 or \
            "Please remove a disc from the drive before updating." not in out:
        problems.append("refusal: exit %s" % res.rc("disc_refused"))
    refused_log = log_commands(res.text("disc_refused.log"), target)
    if refused_log:
        problems.append("refusal sent %s" % " ".join(refused_log[0]))
    if res.rc("disc_after_refusal") != 0:
        problems.append("disc gone after the refusal")
    silent_log = res.text("disc_silent.log")
    ejects = [c for c in log_commands(silent_log, target) if c[:6] == ["1b", "00", "00", "00", "02", "00"]]
    if len(ejects) != 1:
        problems.append("/s: %d START STOP UNIT (eject) to %s" % (len(ejects), target))
    if "medium not present" not in res.text("disc_after_silent.out").lower():
        problems.append("/s: disc still in %s" % target)
    if res.rc("ide_after_silent") != 0 or log_commands(silent_log, ide):
        problems.append("/s touched %s (no target)" % ide)
    if problems:
        return False, "; ".join(problems)
    return True, "refused with exit 3 and nothing sent; /s ejected %s, left %s alone" % (target, ide)


def check_removal(res):
    out = res.text("removal.out")
    drive = res.text("removal.drives").strip()
    sent = log_commands(res.text("removal.log"), drive, ("3b",))
    after = res.text("removal.trigger_ms").strip()
    problems = []
    if res.text("removal.trigger"):
        problems.append(res.text("removal.trigger").strip())
    if res.rc("removal") != 3:
        problems.append("exit status %s" % res.rc("removal"))
    if "Updating was failed" not in out:
        problems.append("no failure message")
    words = re.findall(r"^The drive sr\d+ \[[\d:]+\] is gone.*$", out, re.M)
    if not words or "refused" in out:
        failed = out[out.rfind("Updating was failed"):].splitlines()
        problems.append("the message does not say the drive is gone: %s" % " / ".join(failed[:2]))
    if any(c[1] == "05" for c in sent):
        problems.append("a mode-5 WRITE BUFFER went out before the removal")
    if not after.isdigit() or int(after) > 30000:
        problems.append("%s ms after the removal" % after)
    if problems:
        return False, "; ".join(problems)
    return True, "deleted after %d WRITE BUFFER, failed %.1f s later, exit 3, \"%s...\"" % (
        len(sent), int(after) / 1000, words[-1][:40])


def check_sense(res):
    problems = []
    data = {}
    for d in ("0", "1"):
        fmt = "descriptor" if d == "1" else "fixed"
        if fmt not in res.text("sense_tur_%s.out" % d).lower():
            problems.append("dsense=%s: sg_turs saw no %s-format sense" % (d, fmt))
        data[d] = error_data(res.text("sense_%s.out" % d))
        if res.rc("sense_%s" % d) != 3 or not data[d]:
            problems.append("dsense=%s: exit %s, error data %s" % (d, res.rc("sense_" + d), data[d]))
        elif data[d][0] != "70" or data[d][2] != "0B" or data[d][12:14] != ["4B", "03"]:
            problems.append("dsense=%s: read as %s" % (d, " ".join(data[d])))
    if not problems and data["0"] != data["1"]:
        problems.append("fixed %s, descriptor %s" % (" ".join(data["0"]), " ".join(data["1"])))
    if problems:
        return False, "; ".join(problems)
    return True, "ABORTED COMMAND 4B/03 read the same from fixed and descriptor sense"


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", required=True, help="Linux build folder (src/varnel, tools/)")
    ap.add_argument("--cache", help="kernel and guest files (default: BUILD/../kernel)")
    ap.add_argument("--accel", default="tcg", help="QEMU accelerator (default: tcg)")
    ap.add_argument("--keep", action="store_true", help="keep the guest's files and logs")
    args = ap.parse_args()
    build = Path(args.build).resolve()
    cache = Path(args.cache).resolve() if args.cache else build.parent / "kernel"
    cache.mkdir(parents=True, exist_ok=True)

    vmlinuz, tree, version = prepare_kernel(cache)
    run_dir = cache / "run"
    shutil.rmtree(run_dir, ignore_errors=True)
    run_dir.mkdir()
    initramfs, images = make_initramfs(build, tree, version, run_dir)
    print("guest: kernel %s, %s, 2 processors; logs in %s" % (version, args.accel, run_dir))
    files, elapsed = boot(vmlinuz, initramfs, run_dir, args.accel)
    res = Results(files)

    checks = [("drives --json lists every CD device as the kernel reports it", check_drives),
              ("unprivileged user: the permission message, nothing written", check_unprivileged),
              ("full update into two scsi_debug drives at once", lambda r: check_update(r, images)),
              ("report of a /s /all run: scsi_debug updated, effective after a restart",
               check_report),
              ("disc in a drive: refused; /s ejects it", check_disc),
              ("drive deleted mid-download: failure in bounded time, exit 3, the drive is gone",
               check_removal),
              ("descriptor-format sense (dsense=1) read as fixed-format", check_sense)]
    boot_ms, total_ms = res.ms("boot"), res.ms("total")
    inside = " (boot %.1f s, steps %.1f s)" % (boot_ms / 1000, (total_ms - boot_ms) / 1000) \
        if boot_ms and total_ms else ""
    print("== kernel test summary: guest %.0f s%s" % (elapsed, inside))
    return judge(checks, res if files else None, run_dir, args.keep)


def judge(checks, res, run_dir, keep):
    """Prints a PASS or FAIL line per check (all fail without results) and the count; removes
    the guest's root folder when all passed, unless kept. Returns the exit status."""
    failed = 0
    for title, check in checks:
        if res is None:
            ok, detail = False, "no results from the guest (see %s)" % (run_dir / "console.log")
        else:
            ok, detail = check(res)
        failed += not ok
        print("%s  %s: %s" % ("PASS" if ok else "FAIL", title, detail))
    print("%d passed, %d failed" % (len(checks) - failed, failed))
    if not failed and not keep:
        shutil.rmtree(run_dir / "root", ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
