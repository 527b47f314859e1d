#!/usr/bin/env python3
"""The Linux updater holds a logind "shutdown:sleep" block lock while it writes firmware.

    logind_inhibit_test.py BUILD_DIR

A private dbus-daemon stands in for the system bus (DBUS_SYSTEM_BUS_ADDRESS) and this file,
run as "standin", for logind: its Inhibit hands out one end of a pipe and notes, when the
lock is taken and when the updater closes it, how far the drives' command journal had got.
Cases: a console run that stays open after the update (the lock must be gone before the
program ends), logind refusing the lock, and no bus at all (both: the update runs as usual).
Needs dbus-daemon, python3-dbus and python3-gi (scripts/setup.sh installs them).
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

DIAGNOSTIC = "1D 01 00 00 06 00"
# Debian's interpreter, which has python3-dbus and python3-gi (another python3 may come
# first on PATH).
STANDIN_PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable


def standin(address, log_path, journal_path, mode):
    import dbus
    import dbus.service
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib

    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(address)

    def note(entry):
        lines = open(journal_path).read().splitlines() if os.path.exists(journal_path) else []
        entry["journal"] = lines
        entry["time"] = time.monotonic()
        with open(log_path, "a") as f:
            f.write(json.dumps(entry) + "\n")

    class Manager(dbus.service.Object):
        @dbus.service.method("org.freedesktop.login1.Manager", in_signature="ssss",
                             out_signature="h")
        def Inhibit(self, what, who, why, lock_mode):
            note({"event": "inhibit", "what": str(what), "who": str(who), "why": str(why),
                  "mode": str(lock_mode)})
            if mode == "refuse":
                raise dbus.exceptions.DBusException(
                    "Access denied", name="org.freedesktop.DBus.Error.AccessDenied")
            read_end, write_end = os.pipe()

            def released(fd, _condition):
                note({"event": "release"})
                os.close(fd)
                return False

            GLib.io_add_watch(read_end, GLib.IO_IN | GLib.IO_HUP, released)
            lock = dbus.types.UnixFd(write_end)  # a copy goes to the caller
            os.close(write_end)
            return lock

    name = dbus.service.BusName("org.freedesktop.login1", bus)
    Manager(bus, "/org/freedesktop/login1")
    note({"event": "ready", "name": str(name.get_name())})
    GLib.MainLoop().run()


class Failure(Exception):
    pass


def check(cond, text):
    if not cond:
        raise Failure(text)


def events(log_path):
    if not os.path.exists(log_path):
        return []
    return [json.loads(line) for line in open(log_path).read().splitlines()]


def wait_for(test, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if test():
            return
        time.sleep(0.05)
    raise Failure("timed out waiting for " + what)


def main():
    build = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp()
    procs = []
    try:
        varnel = os.path.join(work, "varnel")
        shutil.copy(os.path.join(build, "src", "varnel"), varnel)
        pkg = os.path.join(build, "tools", "varnel-pkg")
        subprocess.run([pkg, "sample", os.path.join(work, "fw")], check=True, stdout=subprocess.DEVNULL)
        updater = os.path.join(work, "upd")
        subprocess.run([pkg, "build", "--engine", varnel, "--prm", os.path.join(work, "fw", "sample.prm"),
                        "--out", updater, "--product", "KVS-Q42R"], check=True, stdout=subprocess.DEVNULL)

        config = os.path.join(work, "bus.conf")
        with open(config, "w") as f:
            f.write("""<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=%s/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
""" % work)
        bus = subprocess.Popen(["dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        procs.append(bus)
        address = bus.stdout.readline().decode().strip()
        check(address, "dbus-daemon gave no address")

        drive_file = os.path.join(work, "drives.txt")
        journal = os.path.join(work, "journal.txt")

        def drives():
            with open(drive_file, "w") as f:
                f.write("journal = journal.txt\n")
                for letter in "DE":
                    f.write('[drive]\nletter = %s\nvendor = "QZEN"\nproduct = "DVD-RAM KVS-Q42R"\n'
                            'revision = "1.00"\ndelay_ms = 20\n' % letter)
            for p in (journal, drive_file + ".state"):
                if os.path.exists(p):
                    os.remove(p)

        def start_standin(mode):
            log = os.path.join(work, "logind-%s.log" % mode)
            p = subprocess.Popen([STANDIN_PYTHON, os.path.abspath(__file__), "standin", address, log,
                                  journal, mode])
            procs.append(p)
            wait_for(lambda: any(e["event"] == "ready" for e in events(log)), 20, "the stand-in")
            return p, log

        def env(bus_address):
            e = dict(os.environ)
            e.update({"VARNEL_SIMULATE": drive_file, "DBUS_SYSTEM_BUS_ADDRESS": bus_address})
            return e

        def updated():
            lines = open(journal).read().splitlines()
            return all(sum(1 for l in lines if l.startswith(d + " |") and DIAGNOSTIC in l) == 1
                       for d in "DE")

        # 1. A console run that stays open: the lock is taken before the first write and
        #    given back once both downloads have ended, while the program still runs.
        drives()
        logind, log = start_standin("grant")
        run = subprocess.Popen([updater, "/au", "/all"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, env=env(address))
        wait_for(lambda: any(e["event"] == "release" for e in events(log)), 60, "the lock's release")
        check(run.poll() is None, "the updater ended before it gave the lock back")
        out, _ = run.communicate(b"x\n", timeout=30)
        check(run.returncode == 0, "console run exited %d:\n%s" % (run.returncode, out.decode()))
        got = [e for e in events(log) if e["event"] != "ready"]
        check([e["event"] for e in got] == ["inhibit", "release"], "stand-in saw %r" % got)
        inhibit, release = got
        check((inhibit["what"], inhibit["who"], inhibit["mode"]) == ("shutdown:sleep", "Varnel", "block"),
              "Inhibit(%r)" % inhibit)
        check(inhibit["why"] == "Now updating. It takes a few minutes. Don't turn off the PC.",
              "reason %r" % inhibit["why"])
        check(not any(" | 3B" in l for l in inhibit["journal"]), "firmware was written before the lock")
        for d in "DE":
            diag = [l for l in release["journal"] if l.startswith(d + " |") and DIAGNOSTIC in l]
            check(len(diag) == 1, "drive %s had not finished when the lock went: %d" % (d, len(diag)))
        logind.terminate()
        logind.wait()

        # 2. logind refuses the lock, 3. no system bus: the update runs as it would anyway.
        drives()
        _, log = start_standin("refuse")
        r = subprocess.run([updater, "/s", "/all"], stdin=subprocess.DEVNULL, capture_output=True,
                           env=env(address), timeout=60)
        check(r.returncode == 0 and updated(), "refused lock: exit %d" % r.returncode)
        check([e["event"] for e in events(log)] == ["ready", "inhibit"], "stand-in saw %r" % events(log))
        drives()
        r = subprocess.run([updater, "/s", "/all"], stdin=subprocess.DEVNULL, capture_output=True,
                           env=env("unix:path=" + os.path.join(work, "no-bus")), timeout=60)
        check(r.returncode == 0 and updated(), "no bus: exit %d" % r.returncode)
        print("logind inhibitor: 3 cases passed")
        return 0
    except (Failure, subprocess.SubprocessError) as e:
        print("FAIL: %s" % e)
        return 1
    finally:
        for p in procs:
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) == 6 and sys.argv[1] == "standin":
        standin(*sys.argv[2:])
    else:
        sys.exit(main())
