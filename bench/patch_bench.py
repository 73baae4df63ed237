#!/usr/bin/env python3
"""Whole-patch benchmark: a typical patch applied by Korvex and by a batch file.

The patch stops three services, backs up and replaces 500 product files of
mixed sizes (300 x 4 KB, 150 x 32 KB, 45 x 256 KB, 5 x 2 MB, in 10 folders),
sets ten registry values (five REG_SZ, five REG_DWORD), five keys of an INI
file, runs one program and starts the three services again. Two tools do it
in the same Wine prefix, on a freshly laid out machine each time, taking turns
(which one goes first alternates from round to round):

  Korvex  the shipped 32-bit Korvex.exe, /S /G, with an install record
  batch   cmd.exe running a batch file: net stop, xcopy of the product into
          the backup folder and of the package over the product, reg add,
          the INI file written anew with echo (a batch file has no INI
          editor), the same program, net start

A second workload does the service part alone (three services stopped and
started again), where the installer's waits for the services show most. The
services are the tests' service program (tests/fixtures/services), which
stops at once when asked and starts in a moment. Every run must succeed and
leave the machine patched (files, backup, registry, INI keys, program run,
services running again); the table gives each round, the medians and the
ratio to the batch file's median.

    bench/patch_bench.py [--runs 3]

Needs a built tree (scripts/build.sh, which builds the test fixtures too);
KORVEX_BUILD_BASE as for scripts/test.sh."""
import argparse
import datetime
import os
import shutil
import statistics
import subprocess
import sys

import benchlib as bl

BENCH = os.path.join(bl.PREFIX, "drive_c", "kvpatchbench")
WIN = "C:\\kvpatchbench"
DIRS = 10
SIZES = [(300, 4 * 1024), (150, 32 * 1024), (45, 256 * 1024), (5, 2 * 1024 * 1024)]
SERVICES = ["kvpb_svc1", "kvpb_svc2", "kvpb_svc3"]
REG_KEY = "SOFTWARE\\KvPatchBench"
# (name, type, value before the patch, value after it)
REG_VALUES = ([(f"Text{i}", "REG_SZ", f"old text {i}", f"new text {i}") for i in range(1, 6)] +
              [(f"Number{i}", "REG_DWORD", i, 100 + i) for i in range(1, 6)])
# Values end in a letter: in a batch file "x1>> file" would redirect handle 1.
INI_KEYS = [(f"Key{i}", f"old-{i}-value", f"new-{i}-value") for i in range(1, 6)]
PATCH_ID = "KB-KVPATCHBENCH"
UNINSTALL_KEY = f"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{PATCH_ID}"
WORKLOADS = [("patch", "whole patch"), ("services", "3 services stopped and started")]


def run_quiet(cmd):
    return subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def cmd_output(line):
    """Output of one cmd.exe line in the prefix (for setting up and checking)."""
    r = subprocess.run(bl.wine("cmd.exe", "/c", line), capture_output=True, text=True, errors="replace")
    return r.stdout + r.stderr


def write_file(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def write_text(path, lines):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


def write_product(root, fill):
    k = 0
    for count, size in SIZES:
        block = bytes([fill]) * size
        for _ in range(count):
            write_file(os.path.join(root, f"dir{k % DIRS}", f"f{k:04d}.dat"), block)
            k += 1


def ini_lines(which):
    return ["[Main]"] + [f"{key}={values[which]}" for key, *values in INI_KEYS]


class Machine:
    """The product, the package, the batch files and the three services."""

    def __init__(self, build):
        shutil.rmtree(BENCH, ignore_errors=True)
        self.pristine = os.path.join(BENCH, "pristine")
        self.product = os.path.join(BENCH, "product")
        self.pkg = os.path.join(BENCH, "pkg")
        write_product(self.pristine, 0x11)
        write_text(os.path.join(self.pristine, "settings.ini"), ini_lines(0))
        write_product(os.path.join(self.pkg, "FileGroup1"), 0x22)
        shutil.copy(os.path.join(build, "bin", "Korvex.exe"), self.pkg)
        shutil.copy(os.path.join(build, "fixtures", "kvexit.exe"), self.pkg)
        for fixture in ("kvtestsvc.exe", "kvwaiter.exe"):
            shutil.copy(os.path.join(build, "fixtures", fixture), os.path.join(BENCH, fixture))
        self.write_registry_file()
        self.write_batch_files()
        bl.owned_by_test_user(BENCH)
        # Wine ends its services when the last program of the prefix ends:
        # one program runs for the whole benchmark so that they stay up
        # between the runs.
        self.keepalive = subprocess.Popen(bl.wine(f"{WIN}\\kvwaiter.exe", "kvpatchbench-keepalive", "86400000"))
        self.remove_services()
        for s in SERVICES:
            # Straight to sc.exe: through cmd.exe /c the image path arrives mangled.
            run_quiet(bl.wine("sc.exe", "create", s, "binPath=", f"{WIN}\\kvtestsvc.exe {s}"))

    def write_registry_file(self):
        lines = ["Windows Registry Editor Version 5.00", "", f"[HKEY_LOCAL_MACHINE\\{REG_KEY}]"]
        for name, kind, old, _ in REG_VALUES:
            lines.append(f'"{name}"=dword:{old:08x}' if kind == "REG_DWORD" else f'"{name}"="{old}"')
        write_text(os.path.join(BENCH, "before.reg"), lines)

    def write_batch_files(self):
        # Wine's cmd.exe runs the right side of "a || b" after some commands
        # that succeeded ("ver || echo x" echoes): each step is checked on a
        # line of its own.
        def checked(*lines):
            return [x for line in lines for x in (line + " >nul", "if errorlevel 1 exit /b 1")]

        stop = checked(*[f"net stop {s}" for s in SERVICES])
        start = checked(*[f"net start {s}" for s in SERVICES])
        ini = f"{WIN}\\product\\settings.ini"
        work = checked(f"xcopy {WIN}\\product {WIN}\\backup /E /I /Y /Q /K /H",
                       f"xcopy {WIN}\\pkg\\FileGroup1 {WIN}\\product /E /I /Y /Q /K /H",
                       *[f'reg add HKLM\\{REG_KEY} /v {name} /t {kind} /d "{new}" /f'
                         for name, kind, _, new in REG_VALUES])
        work += [f"echo {line}{'>' if i == 0 else '>>'} {ini}" for i, line in enumerate(ini_lines(1))]
        work += [f"pushd {WIN}\\pkg"] + checked("kvexit.exe 0") + ["popd"]
        write_text(os.path.join(BENCH, "patch.bat"), ["@echo off"] + stop + work + start)
        write_text(os.path.join(BENCH, "services.bat"), ["@echo off"] + stop + start)
        # Untimed: the machine as it was before the patch, services running.
        write_text(os.path.join(BENCH, "reset.bat"),
                   ["@echo off", f"reg delete HKLM\\{REG_KEY} /f >nul 2>&1", f"reg import {WIN}\\before.reg"] +
                   [f"net start {s} >nul 2>&1" for s in SERVICES])

    def write_scripts(self):
        info = ["[PatchInformation]", "KorvexVersion=2.0", f"PatchID={PATCH_ID}", "ProductName=KvPatchBench",
                "Language=ENU", "ProductVersion=1.0", "BuildNumber=1", "Platform=x86",
                "PatchDescription=KvPatchBench hotfix", "TimeOutSecond=600", "",
                "[ProductInstall.Symbols]", f"PRODUCT={WIN}\\product", f"RecordFile={WIN}\\record\\patch.rec", ""]
        services = []
        for kind in ("StopService", "StartService"):
            services += [f"[ProductInstall.{kind}.Product]", f"ServiceCount={len(SERVICES)}"]
            for n, s in enumerate(SERVICES, 1):
                services += [f"Service{n}.Description={kind} {s}", f"Service{n}={s}"]
            services.append("")

        steps = [("StopService.Product", "Stopping the services"), ("CopyFileGroupTo.Files", "Replacing files"),
                 ("UpdateRegistry.Settings", "Registry settings"), ("UpdateINI.Settings", "INI settings"),
                 ("Run.Register", "Registering"), ("StartService.Product", "Starting the services")]
        work = ["[ProductInstall.CopyFileGroupTo.Files]", "FileGroupCount=1", "",
                "[FileGroup1]", "Description=Product files", "Target=%PRODUCT%", f"Backup={WIN}\\backup",
                f"FileCount={DIRS}"] + [f"File{d + 1}=dir{d}\\*.dat" for d in range(DIRS)] + [""]
        work += ["[ProductInstall.UpdateRegistry.Settings]", f"RegCount={len(REG_VALUES)}"]
        for n, (name, kind, _, new) in enumerate(REG_VALUES, 1):
            work += [f"Reg{n}.Description={name}", f"Reg{n}.Key=Reg:{kind},HKLM,{REG_KEY},{name}",
                     f"Reg{n}.Value={new}"]
        work += ["", "[ProductInstall.UpdateINI.Settings]", f"ItemCount={len(INI_KEYS)}"]
        for n, (key, _, new) in enumerate(INI_KEYS, 1):
            work += [f"Item{n}.Description={key}", f"Item{n}.Key=INI:%PRODUCT%\\settings.ini,Main,{key}",
                     f"Item{n}.Value={new}"]
        work += ["", "[ProductInstall.Run.Register]", "RunCount=1", "Run1.Description=Registering",
                 "Run1.Command=kvexit.exe 0", f"Run1.Path={WIN}\\pkg", "Run1.CommandType=KVHF_RunAtBackground", ""]

        for name, chosen in (("patch", steps), ("services", [steps[0], steps[-1]])):
            main = ["[ProductInstall.Main]", "InstallRecordFile=%RecordFile%", f"StepCount={len(chosen)}"]
            for n, (section, text) in enumerate(chosen, 1):
                main += [f"Step{n}.Section=ProductInstall.{section}", f"Step{n}.Description={text}"]
            body = info + main + [""] + services + (work if name == "patch" else [])
            write_text(os.path.join(BENCH, f"setup-{name}.ini"), body)

    def use_script(self, workload):
        shutil.copy(os.path.join(BENCH, f"setup-{workload}.ini"), os.path.join(self.pkg, "setup.ini"))
        bl.owned_by_test_user(self.pkg)

    def reset(self):
        for sub in ("product", "backup", "record"):
            shutil.rmtree(os.path.join(BENCH, sub), ignore_errors=True)
        for leftover in ("kvexit.log",):
            if os.path.exists(os.path.join(self.pkg, leftover)):
                os.unlink(os.path.join(self.pkg, leftover))
        shutil.copytree(self.pristine, self.product)
        bl.owned_by_test_user(BENCH)
        out = cmd_output(f"{WIN}\\reset.bat & sc query {SERVICES[0]} & sc query {SERVICES[1]} & "
                         f"sc query {SERVICES[2]}")
        if out.count("RUNNING") != len(SERVICES):
            sys.exit(f"the services did not start before the run:\n{out}")
        subprocess.run(["sync"])

    def check(self, tool, workload):
        """The run left the machine patched, with its services running."""
        queries = " & ".join(f"sc query {s}" for s in SERVICES)
        out = cmd_output(f"reg query HKLM\\{REG_KEY} & {queries}")
        if out.count("RUNNING") != len(SERVICES):
            sys.exit(f"{tool}: the services are not running again after the run:\n{out}")
        if workload != "patch":
            return
        with open(os.path.join(self.product, "dir3", "f0003.dat"), "rb") as f:
            replaced = f.read(1) == b"\x22"
        with open(os.path.join(BENCH, "backup", "dir3", "f0003.dat"), "rb") as f:
            saved = f.read(1) == b"\x11"
        with open(os.path.join(self.product, "settings.ini"), errors="replace") as f:
            ini = f.read()
        missing = [what for what, ok in (
            ("files replaced", replaced), ("files backed up", saved),
            ("INI keys", all(f"{key}={new}" in ini for key, _, new in INI_KEYS)),
            ("program run", os.path.exists(os.path.join(self.pkg, "kvexit.log"))),
            ("registry values", all(f"0x{new:x}" in out if kind == "REG_DWORD" else new in out
                                    for _, kind, _, new in REG_VALUES))) if not ok]
        if missing:
            sys.exit(f"{tool} did not patch the machine: {', '.join(missing)}\n{out}")

    def remove_services(self):
        for s in SERVICES:
            cmd_output(f"sc stop {s} & sc delete {s}")

    def clean_up(self):
        self.remove_services()
        cmd_output(f"reg delete HKLM\\{REG_KEY} /f & reg delete {UNINSTALL_KEY} /f")
        self.keepalive.terminate()
        self.keepalive.wait()


def timed(machine, tool, workload, cmd):
    machine.reset()
    secs, _, rc = bl.measured(cmd)
    if rc != 0:
        sys.exit(f"{tool} ({workload}) failed with exit code {rc}")
    machine.check(tool, workload)
    return secs


def korvex(machine, workload):
    machine.use_script(workload)
    return timed(machine, "Korvex.exe", workload, bl.wine(f"{WIN}\\pkg\\Korvex.exe", "/S", "/G"))


def batch(machine, workload):
    bat = "patch.bat" if workload == "patch" else "services.bat"
    return timed(machine, "the batch file", workload, bl.wine("cmd.exe", "/c", f"{WIN}\\{bat}"))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=3)
    a = ap.parse_args()
    build, build_note = bl.runnable_build()
    os.makedirs(BENCH, exist_ok=True)
    bl.start_wine_server()
    load_before = bl.load_average()
    machine = None
    try:
        print("preparing the product, the package and the services ...", file=sys.stderr, flush=True)
        machine = Machine(build)
        machine.write_scripts()
        results = []
        for workload, _ in WORKLOADS:
            times = {"Korvex": [], "batch": []}
            for r in range(a.runs):
                print(f"  {workload}: round {r + 1} of {a.runs}", file=sys.stderr, flush=True)
                order = [("Korvex", korvex), ("batch", batch)]
                for tool, run in (order if r % 2 == 0 else reversed(order)):
                    times[tool].append(run(machine, workload))
            results.append((workload, times))
        load_after = bl.load_average()

        print(f"# Whole-patch benchmark, {datetime.date.today().isoformat()}")
        print(bl.machine_line(build_note, load_before, load_after))
        print(f"{a.runs} rounds, the two tools taking turns; seconds.")
        print()
        print("| workload | tool | " + " | ".join(f"round {r + 1}" for r in range(a.runs)) + " | median | / batch |")
        print("|---|---|" + "---:|" * (a.runs + 2))
        labels = {"Korvex": "Korvex.exe /S /G", "batch": "batch file (net stop/start, xcopy, reg, echo)"}
        names = dict(WORKLOADS)
        for workload, times in results:
            base = statistics.median(times["batch"])
            for tool in ("Korvex", "batch"):
                med = statistics.median(times[tool])
                print(f"| {names[workload]} | {labels[tool]} | " + " | ".join(f"{s:.2f}" for s in times[tool]) +
                      f" | {med:.2f} | {med / base:.2f} |")
        print()
        for workload, times in results:
            ok = statistics.median(times["Korvex"]) <= statistics.median(times["batch"])
            print(f"Korvex within the batch file's median time, {names[workload]}: {'yes' if ok else 'NO'}")
    finally:
        if machine:
            machine.clean_up()
        if not os.environ.get("KVBENCH_KEEP"):
            shutil.rmtree(BENCH, ignore_errors=True)
        bl.stop_wine_server()


if __name__ == "__main__":
    main()
