#!/usr/bin/env python3
"""Patch benchmark: one CopyFileGroupTo group that replaces a whole product.

A product of FILES files of SIZE bytes in 10 folders, and a package that
replaces all of them through one group (FileN=dirN\\*.dat). Korvex.exe runs
the package silently under Wine; in the same run Wine's xcopy does the same
work (back up the product, then copy the package over it) and so does cp on
the Linux side. Times are printed as ratios against xcopy and cp, with the
peak memory of each Korvex run; a second, smaller product shows whether the
memory grows with the number of files.

    bench/copy_bench.py [--files 1000] [--size 102400] [--runs 3]

Needs a built tree: KORVEX_BUILD_BASE as for scripts/test.sh."""
import argparse
import os
import pwd
import resource
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
DIRS = 10


def env_value(name):
    out = subprocess.run(["bash", "-c", f'source "{ROOT}/scripts/env.sh" >/dev/null; echo "${name}"'],
                         capture_output=True, text=True, check=True)
    return out.stdout.strip()


BUILD = env_value("KORVEX_TEST_BUILD")
PREFIX = env_value("KORVEX_WINEPREFIX")
USER = env_value("KORVEX_TEST_USER")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")
BENCH = os.path.join(PREFIX, "drive_c", "kvbench")
WIN_BENCH = "C:\\kvbench"


def owned_by_test_user(path):
    if os.getuid() == 0:
        pw = pwd.getpwnam(USER)
        for base, dirs, files in os.walk(path):
            os.chown(base, pw.pw_uid, pw.pw_gid)
            for f in files:
                os.chown(os.path.join(base, f), pw.pw_uid, pw.pw_gid)


def write_tree(root, files, size, fill):
    per_dir = files // DIRS
    block = bytes([fill]) * size
    for d in range(DIRS):
        folder = os.path.join(root, f"dir{d}")
        os.makedirs(folder, exist_ok=True)
        for i in range(per_dir):
            with open(os.path.join(folder, f"f{i:05d}.dat"), "wb") as f:
                f.write(block)


def make_world(name, files, size):
    """Pristine product, package and script for one product size."""
    top = os.path.join(BENCH, name)
    shutil.rmtree(top, ignore_errors=True)
    write_tree(os.path.join(top, "pristine"), files, size, 0x11)
    pkg = os.path.join(top, "pkg")
    write_tree(os.path.join(pkg, "FileGroup1"), files, size, 0x22)
    shutil.copy(os.path.join(BUILD, "bin", "Korvex.exe"), pkg)
    wtop = f"{WIN_BENCH}\\{name}"
    lines = ["[ProductInstall.Main]", "StepCount=1",
             "Step1.Section=ProductInstall.CopyFileGroupTo.All", "Step1.Description=Replace the product", "",
             "[ProductInstall.CopyFileGroupTo.All]", "FileGroupCount=1", "",
             "[FileGroup1]", "Description=Everything", f"Target={wtop}\\product",
             f"Backup={wtop}\\backup", f"FileCount={DIRS}"]
    lines += [f"File{d + 1}=dir{d}\\*.dat" for d in range(DIRS)]
    with open(os.path.join(pkg, "setup.ini"), "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")
    owned_by_test_user(top)
    return top, wtop


def reset(top):
    for sub in ("product", "backup"):
        shutil.rmtree(os.path.join(top, sub), ignore_errors=True)
    shutil.copytree(os.path.join(top, "pristine"), os.path.join(top, "product"))
    owned_by_test_user(os.path.join(top, "product"))
    subprocess.run(["sync"])


def measured(cmd):
    """Wall time and peak resident memory (KiB) of one command, measured in a
    fresh child so that earlier runs do not count."""
    code = ("import resource,subprocess,sys,time;t=time.time();"
            "r=subprocess.run(sys.argv[1:],stdout=subprocess.DEVNULL,stderr=subprocess.DEVNULL);"
            "print(time.time()-t,resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss,r.returncode)")
    out = subprocess.run([sys.executable, "-c", code] + cmd, capture_output=True, text=True, check=True)
    secs, rss, rc = out.stdout.split()
    return float(secs), int(rss), int(rc)


def wine(*args):
    return [WINE_RUN] + list(args)


def run_korvex(top, wtop):
    reset(top)
    secs, rss, rc = measured(wine(f"{wtop}\\pkg\\Korvex.exe", "/S", "/G"))
    if rc != 0:
        sys.exit(f"Korvex.exe failed with exit code {rc}")
    sample = os.path.join(top, "product", "dir3", "f00000.dat")
    with open(sample, "rb") as f:
        if f.read(1) != b"\x22":
            sys.exit("Korvex.exe did not replace the product files")
    return secs, rss


def run_xcopy(top, wtop):
    reset(top)
    # Same work as the group: back up the installed files, then copy the
    # package over them, in one Wine process start each.
    script = (f"xcopy {wtop}\\product {wtop}\\backup /E /I /Y /Q /K /H >nul && "
              f"xcopy {wtop}\\pkg\\FileGroup1 {wtop}\\product /E /I /Y /Q /K /H >nul")
    secs, _, rc = measured(wine("cmd.exe", "/c", script))
    if rc != 0:
        sys.exit(f"xcopy failed with exit code {rc}")
    return secs


def run_cp(top):
    reset(top)
    cmd = ["bash", "-c", f'cp -a "{top}/product/." "{top}/backup/" && cp -a "{top}/pkg/FileGroup1/." "{top}/product/"']
    secs, _, rc = measured(cmd)
    if rc != 0:
        sys.exit("cp failed")
    return secs


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--files", type=int, default=1000)
    ap.add_argument("--size", type=int, default=100 * 1024)
    ap.add_argument("--runs", type=int, default=3)
    a = ap.parse_args()
    os.makedirs(BENCH, exist_ok=True)
    owned_by_test_user(BENCH)
    # A running Wine server, so that no run pays for its start.
    subprocess.run(wine("cmd.exe", "/c", "exit"), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        top, wtop = make_world("big", a.files, a.size)
        small_top, small_wtop = make_world("small", max(DIRS, a.files // 10), a.size)
        k, x, c, mem = [], [], [], []
        for _ in range(a.runs):
            secs, rss = run_korvex(top, wtop)
            k.append(secs)
            mem.append(rss)
            x.append(run_xcopy(top, wtop))
            c.append(run_cp(top))
        small_mem = max(run_korvex(small_top, small_wtop)[1] for _ in range(2))
        best_k, best_x, best_c = min(k), min(x), min(c)
        mb = a.files * a.size / 1e6
        print(f"product: {a.files} files of {a.size} bytes in {DIRS} folders ({mb:.0f} MB), best of {a.runs}")
        print(f"Korvex.exe /S /G     {best_k:7.2f} s")
        print(f"xcopy (Wine)         {best_x:7.2f} s   Korvex/xcopy = {best_k / best_x:5.2f}  (target <= 1.00)")
        print(f"cp (Linux)           {best_c:7.2f} s   Korvex/cp    = {best_k / best_c:5.2f}")
        print(f"peak memory Korvex   {max(mem) / 1024:7.1f} MiB with {a.files} files, "
              f"{small_mem / 1024:.1f} MiB with {max(DIRS, a.files // 10)} files "
              f"(ratio {max(mem) / small_mem:.2f}, target ~1)")
    finally:
        shutil.rmtree(BENCH, ignore_errors=True)
        subprocess.run([os.path.join(ROOT, "scripts", "wine-stop.sh")], stdout=subprocess.DEVNULL)


if __name__ == "__main__":
    main()
