#!/usr/bin/env python3
"""The Windows program's whole job under Wine, checked from outside.

One fresh Wine prefix (32-bit, or 64-bit where our 32-bit program runs under
WOW64) gets the agent settings through `reg import`, the Reader registration whose
cached AcroRead.msi is missing, and a store server on 127.0.0.1 that serves an MSI
built with wixl. Then prereq.exe runs as an administrator would run it, Wine's own
msiexec installs the package, and the script checks what a user would see: exit
codes, log lines, the requests the store received, the downloaded package, the
Installer values in the registry view each one belongs to, the installed product,
a second run that leaves everything whole, and a store answering 404 that changes
nothing.

    job_under_wine.py --prereq build/mingw-i686/bin/prereq.exe --arch win64 [--rate 8]
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
PACKAGE = "300297-AdbeRdr1010_en_US.msi"
PRODUCT = "{AC76BA86-7AD7-1033-7B44-AA1000000001}"
PACKED = "68AB67CA7DA73301B744AA0100000010"
INSTALL_DIR = r"C:\Program Files\Vantrel Agent"
SETUP_DIR = r"C:\ProgramData\Adobe\Setup" + "\\" + PRODUCT
UNINSTALL = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall" + "\\" + PRODUCT
SOURCE_LIST = r"HKLM\SOFTWARE\Classes\Installer\Products" + "\\" + PACKED + r"\SourceList"

failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if not ok:
        failures.append(what)
    return ok


class Machine:
    def __init__(self, work, arch):
        self.prefix = os.path.join(work, "prefix")
        self.arch = arch
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEARCH=arch, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("DISPLAY", None)
        self.env.pop("WAYLAND_DISPLAY", None)

    def loader(self):
        return "/usr/lib/wine/wine64" if self.arch == "win64" and os.path.exists("/usr/lib/wine/wine64") else "wine"

    def wine(self, *args, cwd=None, check_rc=True):
        r = subprocess.run([self.loader()] + list(args), env=self.env, cwd=cwd, capture_output=True, timeout=600)
        if check_rc and r.returncode != 0:
            raise RuntimeError("wine %s failed (%d): %s" % (" ".join(args), r.returncode,
                                                         r.stderr.decode("utf-8", "replace")))
        return r

    def boot(self):
        subprocess.run([self.loader(), "wineboot", "-i"], env=self.env, capture_output=True, check=True, timeout=600)
        self.wait()

    def wait(self):
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=600)

    def host(self, path):
        """Host path of a "C:\\..." path of the prefix."""
        return os.path.join(self.prefix, "drive_c", *path[3:].split("\\"))

    def reg_exe(self):
        # In a 64-bit prefix the 64-bit reg.exe: the 32-bit one would redirect a path
        # that already names Wow6432Node a second time.
        return r"C:\windows\system32\reg.exe"

    def reg_import(self, text):
        path = os.path.join(self.prefix, "drive_c", "settings.reg")
        with open(path, "w", encoding="utf-8", newline="\r\n") as f:
            f.write(text)
        self.wine(self.reg_exe(), "import", r"C:\settings.reg")

    def reg_value(self, key, name, view):
        """The value's data as `reg query` prints it, or None when it is absent."""
        args = [self.reg_exe(), "query", key, "/v", name]
        if self.arch == "win64":
            args.append("/reg:" + view)
        r = self.wine(*args, check_rc=False)
        if r.returncode != 0:
            return None
        for line in r.stdout.decode("utf-8", "replace").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0].lower() == name.lower() and parts[1].startswith("REG_"):
                return parts[2] if len(parts) == 3 else ""
        return None


def settings_reg(port, rate, agent_view, log_level=3):
    agent = r"HKEY_LOCAL_MACHINE\SOFTWARE" + ("\\Wow6432Node" if agent_view else "") + r"\Corvane\Vantrel\DAZered"
    uninstall = r"HKEY_LOCAL_MACHINE\SOFTWARE" + ("\\Wow6432Node" if agent_view else "") + \
        r"\Microsoft\Windows\CurrentVersion\Uninstall" + "\\" + PRODUCT
    esc = lambda s: s.replace("\\", "\\\\")
    setup = esc(SETUP_DIR + "\\")
    return f"""Windows Registry Editor Version 5.00

[{agent}]
"DAZeredInstallDir"="{esc(INSTALL_DIR)}"
"DAZeredVersion"="7.2.0"
"MSPName"="Test MSP"
"CustomerName"="Test Customer"
"CustomerId"="TEST1"
"VTProductCode"="RERI"
"EnableDistributionServer"="no"
"EnableDSRoute"="no"
"ProxyEnabled"="no"
"DataTransferRate_KBps"="{rate}"
"DAZeredLogLevel"=dword:{log_level:08x}

[{agent}\\ServerInfo]
"VTServerName"="localhost"
"VTServerFlatName"="localhost"
"VTServerIPAddress"="127.0.0.1"
"VTServerSecIPAddress"="127.0.0.1"
"VTLastAccessName"="127.0.0.1"
"VTServerPort"="{port}"
"VTServerProtocol"="http"

[{agent}\\SystemDetails]
"DAZeredResourceID"="wine-resource-1"

[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\Language]
"InstallLanguage"="0409"

[{uninstall}]
"DisplayVersion"="10.1.0"
"InstallSource"="{setup}"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products\\{PACKED}\\SourceList]
"LastUsedSource"="n;1;{setup}"
"PackageName"="AcroRead.msi"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products\\{PACKED}\\SourceList\\Net]
"1"="{setup}"

"""


class Store:
    def __init__(self, work, files):
        self.dir = os.path.join(work, "store")
        os.makedirs(self.dir, exist_ok=True)
        for name, path in files.items():
            shutil.copyfile(path, os.path.join(self.dir, name))
        self.log = os.path.join(work, "store-requests.log")
        port_file = os.path.join(work, "store.port")
        self.proc = subprocess.Popen([sys.executable, os.path.join(SOURCE, "scripts", "demo", "store_server.py"),
                                      "--store", self.dir, "--port-file", port_file, "--log", self.log])
        for _ in range(200):
            if os.path.exists(port_file) and os.path.getsize(port_file):
                break
            time.sleep(0.05)
        self.port = int(open(port_file).read().strip())
        open(self.log, "w").close()

    def requests(self):
        with open(self.log) as f:
            return [line.rstrip("\n") for line in f]

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


def build_msi(work):
    build = os.path.join(work, "msi")
    os.makedirs(build, exist_ok=True)
    with open(os.path.join(build, "payload.dat"), "wb") as f:
        f.write(os.urandom(300 * 1024))
    out = os.path.join(build, PACKAGE)
    subprocess.run(["wixl", "-D", "LanguageGroup=1033", "-D", "ProductVersion=10.1.0", "-o", out, os.path.join(SOURCE, "scripts", "demo", "reader_base.wxs")],
                   cwd=build, check=True, capture_output=True)
    return out, os.path.join(build, "payload.dat")


def log_messages(path):
    """The log's messages without time stamp and thread, whatever the line ending."""
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        text = f.read().decode("utf-8", "replace").replace("\r\n", "\n")
    return [re.sub(r"^\[ [^]]* \] \[ -?\d+ \] ", "", line) for line in text.split("\n") if line]


def is_64bit_program(path):
    """The PE header's machine field: 0x8664 for x86_64."""
    with open(path, "rb") as f:
        head = f.read(4096)
    pe = int.from_bytes(head[60:64], "little")
    return int.from_bytes(head[pe + 4:pe + 6], "little") == 0x8664


def run_prereq(machine, prereq, cwd):
    started = time.time()
    r = machine.wine(prereq, "-p", "READER-10.1.1", cwd=cwd, check_rc=False)
    machine.wait()
    print("      prereq.exe exit code %d after %.1f s" % (r.returncode, time.time() - started), flush=True)
    return r


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--prereq", required=True)
    parser.add_argument("--arch", choices=["win32", "win64"], default="win32")
    parser.add_argument("--rate", type=int, default=0, help='"DataTransferRate_KBps" (throttled ranged download)')
    parser.add_argument("--work", help="folder for the prefix and the store (default: a new temporary one)")
    parser.add_argument("--keep", action="store_true", help="leave the work folder in place")
    args = parser.parse_args()

    prereq = os.path.abspath(args.prereq)
    work = args.work or tempfile.mkdtemp(prefix="wine-job-%s." % args.arch)
    os.makedirs(work, exist_ok=True)
    machine = Machine(work, args.arch)
    store = None
    try:
        started = time.time()
        machine.boot()
        print("      prefix %s (%s) ready after %.1f s" % (machine.prefix, args.arch, time.time() - started))
        msi, payload = build_msi(work)
        store = Store(work, {PACKAGE: msi})
        # Our 32-bit program on a 64-bit machine runs under WOW64 and sees the 32-bit view.
        wow64 = args.arch == "win64" and not is_64bit_program(prereq)
        own_view = "32" if wow64 or args.arch == "win32" else "64"
        print("      %s program in a %s prefix%s" % ("64-bit" if is_64bit_program(prereq) else "32-bit", args.arch,
                                                    " (WOW64)" if wow64 else ""), flush=True)
        machine.reg_import(settings_reg(store.port, args.rate, wow64))
        os.makedirs(machine.host(SETUP_DIR), exist_ok=True)
        agent_dir = machine.host(INSTALL_DIR)
        os.makedirs(agent_dir, exist_ok=True)
        if args.rate:
            # The throttled download writes into the patches folder without making it.
            os.makedirs(os.path.join(agent_dir, "patches"), exist_ok=True)
        log = os.path.join(agent_dir, "logs", "rozedidavevazez.log")

        # ---- First run: the cached package is missing, so the base package is fetched and installed.
        r = run_prereq(machine, prereq, agent_dir)
        check(r.returncode == 0, "first run exits 0")
        stdout = r.stdout.decode("utf-8", "replace")
        check("szLocale : en_US" in stdout.replace("\r\n", "\n").split("\n"), "standard output names the locale en_US")
        messages = log_messages(log)
        check(any("File : " in m and "is available" in m for m in messages) is False,
              "the log does not claim the cached package is available")
        check(any(m.startswith("[INFO] Inside Kestrinst") for m in messages), "the log shows the repair started")
        check(any(m.startswith("[INFO] Adobe 10.1.0 installation status : 0") for m in messages),
              "the log shows msiexec's status 0")
        check(any(m.startswith("[INFO] Returning from Kestrinst with errorcode : 0") for m in messages),
              "the log shows the repair finished")
        requests = store.requests()
        path = "/store/" + PACKAGE
        if args.rate:
            heads = [q for q in requests if q.startswith("HEAD " + path)]
            ranges = [q for q in requests if q.startswith("GET " + path) and "range=bytes=" in q and "-> 206" in q]
            check(len(heads) == 1, "throttled: one HEAD request (%d)" % len(heads))
            check(len(ranges) >= 2 and len(ranges) + len(heads) == len(requests),
                  "throttled: the body comes in %d ranges and nothing else is asked" % len(ranges))
        else:
            check(len(requests) == 1 and requests[0].startswith("GET " + path + " range=- -> 200"),
                  "one plain GET of the package: %s" % requests)
        downloaded = os.path.join(agent_dir, "patches", PACKAGE)
        check(os.path.isfile(downloaded) and open(downloaded, "rb").read() == open(msi, "rb").read(),
              "the package arrived byte for byte")
        patches = INSTALL_DIR + "\\patches"
        install_source = machine.reg_value(UNINSTALL, "InstallSource", own_view)
        check(install_source is not None and install_source.rstrip("\\").lower() == patches.lower(),
              "InstallSource names the patches folder in the program's own view: %s" % install_source)
        last_used = machine.reg_value(SOURCE_LIST, "LastUsedSource", "64")
        check(last_used is not None and patches.lower() in last_used.lower(),
              "LastUsedSource names the patches folder: %s" % last_used)
        package_name = machine.reg_value(SOURCE_LIST, "PackageName", "64")
        check(package_name == PACKAGE, "PackageName names the package in the 64-bit view: %s" % package_name)
        if wow64:
            check(machine.reg_value(UNINSTALL, "InstallSource", "64") is None,
                  "InstallSource is not written to the 64-bit view")
        # The package is a 32-bit MSI: on a 64-bit machine its files go to "Program Files (x86)".
        program_files = r"C:\Program Files (x86)" if args.arch == "win64" else r"C:\Program Files"
        installed = machine.host(program_files + r"\Reader Demo\payload.dat")
        check(os.path.isfile(installed) and open(installed, "rb").read() == open(payload, "rb").read(),
              "msiexec installed the product's file %s" % installed)

        # ---- Second run. Wine's msiexec records the patches folder as the last used source
        # ("n;2;..."), and the check follows that index, so the repair may be repeated; what
        # must hold is that it is whole again: at most the same one request, the same bytes.
        before = len(store.requests())
        r = run_prereq(machine, prereq, agent_dir)
        check(r.returncode == 0, "second run exits 0")
        new_requests = store.requests()[before:]
        last_used = machine.reg_value(SOURCE_LIST, "LastUsedSource", "64") or ""
        print("      second run: %d request(s); LastUsedSource %s" % (len(new_requests), last_used), flush=True)
        if new_requests and not args.rate:
            check(len(new_requests) == 1 and new_requests[0].startswith("GET " + path + " range=- -> 200"),
                  "second run asks for the package at most once: %s" % new_requests)
        check(os.path.isfile(downloaded) and open(downloaded, "rb").read() == open(msi, "rb").read(),
              "after the second run the package is still whole")

        # ---- A store without the package: a 404 changes nothing.
        os.remove(os.path.join(store.dir, PACKAGE))
        if os.path.exists(downloaded):
            os.remove(downloaded)
        shutil.rmtree(machine.host(SETUP_DIR), ignore_errors=True)
        os.makedirs(machine.host(SETUP_DIR), exist_ok=True)
        machine.reg_import(settings_reg(store.port, args.rate, wow64))
        snapshot = {n: machine.reg_value(k, n, v) for (k, n, v) in
                    [(UNINSTALL, "InstallSource", own_view), (SOURCE_LIST, "LastUsedSource", "64"),
                     (SOURCE_LIST, "PackageName", "64")]}
        before = len(store.requests())
        r = run_prereq(machine, prereq, agent_dir)
        new_requests = store.requests()[before:]
        check(any("-> 404" in q for q in new_requests), "404 run: the store answered 404: %s" % new_requests)
        check(not os.path.exists(downloaded), "404 run: no package file left in the patches folder")
        after = {n: machine.reg_value(k, n, v) for (k, n, v) in
                 [(UNINSTALL, "InstallSource", own_view), (SOURCE_LIST, "LastUsedSource", "64"),
                  (SOURCE_LIST, "PackageName", "64")]}
        check(after == snapshot, "404 run: the Installer values are unchanged")
        check(not any(m.startswith("[INFO] Adobe 10.1.0 installation status") for m in log_messages(log)[-20:]),
              "404 run: msiexec is not started")
    finally:
        if store:
            store.stop()
        subprocess.run(["wineserver", "-k"], env=machine.env, capture_output=True)
        if not args.keep and not args.work:
            shutil.rmtree(work, ignore_errors=True)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
