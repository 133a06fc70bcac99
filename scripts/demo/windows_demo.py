#!/usr/bin/env python3
"""The demo of scripts/demo.sh with the Windows program itself, under Wine.

A fresh Wine prefix gets the agent settings and a Reader 10.1.0 registration whose
cached AcroRead.msi has gone missing (`reg import`), a store server on 127.0.0.1
serves the base package (an Installer database made with wixl), and prereq.exe runs
twice in the agent's folder: the first run repairs the Reader source and Wine's own
msiexec installs the package, the second checks again. Each run shows its exit code,
standard output, the new log lines, the requests the store received and the msiexec
the program started; the Installer values are read back with Wine's reg.exe. The
prefix is left in place for inspection.

    windows_demo.py --prereq build/mingw-x86_64/bin/prereq.exe [--rate KBPS] [--patch NAME]

Called by `scripts/demo.sh --windows`, which builds the program first.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(SOURCE, "tests", "wine"))
import job_under_wine as job  # noqa: E402  (the prefix, store and package machinery)

BOLD = sys.stdout.isatty()


def section(title):
    print(("\n\033[1m== %s ==\033[0m" if BOLD else "\n== %s ==") % title, flush=True)


def indent(lines):
    for line in lines:
        print("    " + line)


def windows_path(host):
    """The name a Windows program under Wine gives a host path (drive Z: is "/")."""
    return "Z:" + os.path.abspath(host).replace("/", "\\")


class Demo:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.machine = job.Machine(work, args.arch)
        self.store = None
        self.wow64 = args.arch == "win64" and not job.is_64bit_program(args.prereq)
        self.own_view = "32" if self.wow64 or args.arch == "win32" else "64"
        self.agent_dir = self.machine.host(job.INSTALL_DIR)
        self.log = os.path.join(self.agent_dir, "logs", "rozedidavevazez.log")
        self.cached = self.machine.host(job.SETUP_DIR + "\\AcroRead.msi")
        self.downloaded = os.path.join(self.agent_dir, "patches", job.PACKAGE)
        program_files = r"C:\Program Files (x86)" if args.arch == "win64" else r"C:\Program Files"
        self.installed = self.machine.host(program_files + r"\Reader Demo\payload.dat")
        self.results = {}

    def installer_keys(self):
        """The Reader's Installer values, each key in the registry view it belongs to."""
        for key, view in [(job.UNINSTALL, self.own_view), (job.SOURCE_LIST, "64"), (job.SOURCE_LIST + r"\Net", "64")]:
            query = [self.machine.reg_exe(), "query", key]
            if self.args.arch == "win64":
                query.append("/reg:" + view)
            r = self.machine.wine(*query, check_rc=False)
            # The key and its values; reg also lists the subkeys' names, left out here.
            lines = [line.rstrip() for line in r.stdout.decode("utf-8", "replace").splitlines()
                     if line.strip() and (line.startswith(" ") or line.count("\\") == key.count("\\"))]
            indent(lines if r.returncode == 0 else [key + "  (no such key)"])

    def run(self, n):
        logged = len(job.log_messages(self.log))
        asked = len(self.store.requests())
        section("Run %d: prereq.exe -p %s" % (n, self.args.patch))
        started = time.time()
        r = self.machine.wine(self.args.prereq, "-p", self.args.patch, cwd=self.agent_dir, check_rc=False)
        self.machine.wait()
        print("exit code: %d   (took %d ms, Wine included)" % (r.returncode, (time.time() - started) * 1000))
        print("standard output:")
        indent(r.stdout.decode("utf-8", "replace").replace("\r\n", "\n").splitlines())
        errors = r.stderr.decode("utf-8", "replace").strip()
        if errors:
            print("standard error:")
            indent(errors.splitlines())
        messages = job.log_messages(self.log)[logged:]
        print("log (new lines of rozedidavevazez.log, time stamps and thread ids left out):")
        indent(messages)
        requests = self.store.requests()[asked:]
        print("requests to the store:")
        indent(requests or ["(none)"])
        started_msiexec = [m.split("application ", 1)[1].strip() for m in messages
                           if "execute : Process successfully created for application" in m and "msiexec" in m]
        print("msiexec (Wine's own):")
        indent(["started: " + line for line in started_msiexec] or ["(not run)"])
        if started_msiexec:
            indent(["installed product file: %s" % ("present" if os.path.isfile(self.installed) else "missing")])
        self.results[n] = (r.returncode, len(requests), bool(started_msiexec))

    def tamsel(self):
        section("Table store: tamsel")
        tamsel = os.path.join(os.path.dirname(self.args.prereq), "tamsel.exe")
        root = os.path.join(self.work, "tamsel")
        # The demo's table store: its data dictionary and one resource document.
        shutil.copytree(os.path.join(SOURCE, "scripts", "demo", "tamsel"), root)
        if not os.path.isfile(tamsel):
            print("(tamsel.exe was not built beside %s)" % self.args.prereq)
            return
        args = ["--root", windows_path(root), "--load", windows_path(os.path.join(root, "demo-pc.xml")),
                "--select", "Agentparams", "PARAM_NAME='RESOURCE_ID'", "--tables"]
        print("$ tamsel.exe " + " ".join(a if " " not in a and "'" not in a else '"%s"' % a for a in args))
        r = self.machine.wine(tamsel, *args, check_rc=False)
        indent(r.stdout.decode("utf-8", "replace").replace("\r\n", "\n").splitlines())
        if r.returncode != 0:
            indent(["exit code %d: %s" % (r.returncode, r.stderr.decode("utf-8", "replace").strip())])

    def main(self):
        a = self.args
        started = time.time()
        self.machine.boot()
        booted = time.time() - started
        msi, _ = job.build_msi(self.work)
        self.store = job.Store(self.work, {job.PACKAGE: msi})
        self.machine.reg_import(job.settings_reg(self.store.port, a.rate, self.wow64, log_level=2))
        os.makedirs(self.machine.host(job.SETUP_DIR), exist_ok=True)
        os.makedirs(self.agent_dir, exist_ok=True)

        section("Machine")
        bits = "64-bit" if job.is_64bit_program(a.prereq) else "32-bit"
        print("Wine prefix:    %s (%s, made in %.0f s)" % (self.machine.prefix, a.arch, booted))
        print("program:        %s (%s%s)" % (a.prereq, bits, ", under WOW64" if self.wow64 else ""))
        print("store server:   http://127.0.0.1:%d/store/" % self.store.port)
        print("package:        \\store\\%s, %d bytes, an Installer database made with wixl (ProductCode %s, "
              "ProductVersion 10.1.0)" % (job.PACKAGE, os.path.getsize(msi), job.PRODUCT))
        if a.rate == 0 or a.rate > 3072:
            print("transfer rate:  no limit (plain download)%s" %
                  ("" if a.rate == 0 else "; the agent resets rates above 3072 to 0"))
        else:
            print("transfer rate:  %d KB/s (throttled download: HEAD, then ranges of %d bytes)" % (a.rate, a.rate * 500))
            print("                note: the throttled download does not create the patches folder; it is created here")
            os.makedirs(os.path.dirname(self.downloaded), exist_ok=True)
        print("agent folder:   %s" % job.INSTALL_DIR)
        print("cached package: %s\\AcroRead.msi (%s)" % (job.SETUP_DIR, "present" if os.path.isfile(self.cached)
                                                         else "missing"))
        print("msiexec:        Wine's own")

        section("Installer registration before")
        self.installer_keys()
        self.run(1)
        section("Installer registration after run 1")
        self.installer_keys()
        print("cached package: %s" % ("present" if os.path.isfile(self.cached) else "missing"))
        patches = os.path.dirname(self.downloaded)
        print("downloaded:     %s" % " ".join(sorted(os.listdir(patches)) if os.path.isdir(patches) else []))
        self.run(2)
        section("Installer registration after run 2")
        self.installer_keys()
        self.tamsel()

        section("Summary")
        check = [m for m in job.log_messages(self.log) if "CheckReaderPackage" in m]
        print("package check: %s" % (check[0] if check else ""))
        for n in (1, 2):
            rc, requests, msiexec = self.results[n]
            print("run %d: exit code %d, %d store request(s), msiexec started %s" % (n, rc, requests,
                                                                                  "yes" if msiexec else "no"))
        with open(self.log, "rb") as f:
            text = f.read()
        crlf = text.count(b"\r\n")
        print("log line ends: %d of %d lines end with \\r\\n, as Windows writes text" % (crlf, text.count(b"\n")))
        print("Wine prefix left for inspection: %s" % self.work)
        print("  log:     %s" % self.log)
        print("  store:   %s" % self.store.log)
        print("  drive C: %s" % os.path.join(self.machine.prefix, "drive_c"))
        return 0 if all(self.results[n][0] == 0 for n in (1, 2)) else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--prereq", required=True, help="prereq.exe of a Windows build")
    parser.add_argument("--arch", choices=["win32", "win64"], default="win64", help="the prefix (default win64)")
    parser.add_argument("--rate", type=int, default=0, help='"DataTransferRate_KBps" (throttled ranged download)')
    parser.add_argument("--patch", default="READER-10.1.1")
    args = parser.parse_args()
    args.prereq = os.path.abspath(args.prereq)
    work = tempfile.mkdtemp(prefix="vantrel-windows-demo.", dir=os.environ.get("TMPDIR", "/tmp"))
    demo = Demo(args, work)
    try:
        return demo.main()
    finally:
        if demo.store:
            demo.store.stop()
        subprocess.run(["wineserver", "-k"], env=demo.machine.env, capture_output=True)


if __name__ == "__main__":
    sys.exit(main())
