"""What the benchmarks share: the build tree and Wine prefix of scripts/env.sh,
running Windows programs as the unprivileged test user, timing one command in
a child of its own, and the machine line of a result table."""
import os
import platform
import pwd
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def env_value(name):
    out = subprocess.run(["bash", "-c", f'source "{ROOT}/scripts/env.sh" >/dev/null; echo "${name}"'],
                         capture_output=True, text=True, check=True)
    return out.stdout.strip()


SHIP_BUILD = env_value("KORVEX_SHIP_BUILD")
TEST_BUILD = env_value("KORVEX_TEST_BUILD")
ARCH = env_value("KORVEX_TEST_ARCH")
PREFIX = env_value("KORVEX_WINEPREFIX")
USER = env_value("KORVEX_TEST_USER")
WINE = env_value("KORVEX_WINE")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")


def runnable_build():
    """The build whose programs run here: the shipped 32-bit one where this
    machine runs 32-bit code, and a note saying which it is."""
    if ARCH == "i686":
        return SHIP_BUILD, "shipped 32-bit build"
    return TEST_BUILD, f"{ARCH} build: this machine cannot run the shipped 32-bit build"


def as_test_user(cmd):
    """cmd as the unprivileged test user, as scripts/wine-run runs Wine."""
    if os.getuid() != 0:
        return cmd
    home = pwd.getpwnam(USER).pw_dir
    return ["setpriv", f"--reuid={USER}", f"--regid={USER}", "--init-groups", "env", f"HOME={home}",
            f"USER={USER}", f"LOGNAME={USER}", f"WINEPREFIX={PREFIX}"] + cmd


def owned_by_test_user(path):
    if os.getuid() == 0:
        pw = pwd.getpwnam(USER)
        for base, dirs, files in os.walk(path):
            os.chown(base, pw.pw_uid, pw.pw_gid)
            for f in files:
                os.chown(os.path.join(base, f), pw.pw_uid, pw.pw_gid)


def wine(*args):
    return [WINE_RUN] + list(args)


def measured(cmd):
    """Wall time and peak resident memory (KiB) of one command, measured in a
    fresh child so that earlier runs do not count."""
    code = ("import resource,subprocess,sys,time;t=time.time();"
            "r=subprocess.run(sys.argv[1:],stdout=subprocess.DEVNULL,stderr=subprocess.DEVNULL);"
            "print(time.time()-t,resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss,r.returncode)")
    out = subprocess.run([sys.executable, "-c", code] + cmd, capture_output=True, text=True, check=True)
    secs, rss, rc = out.stdout.split()
    return float(secs), int(rss), int(rc)


def start_wine_server():
    """One persistent Wine server for the whole run, so that no run pays for
    its start (it would otherwise end a few seconds after each program)."""
    subprocess.run(as_test_user([os.path.join(os.path.dirname(WINE), "wineserver"), "-p"]))
    subprocess.run(wine("cmd.exe", "/c", "exit"), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop_wine_server():
    subprocess.run([os.path.join(ROOT, "scripts", "wine-stop.sh")], stdout=subprocess.DEVNULL)


def load_average():
    return " ".join(f"{v:.2f}" for v in os.getloadavg())


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def machine_line(build_note, load_before, load_after):
    wine_version = subprocess.run([WINE, "--version"], capture_output=True, text=True).stdout.strip()
    return (f"Machine: {cpu_model()}, {os.cpu_count()} cores, {platform.system()} {platform.release()}; "
            f"{wine_version}, 64-bit prefix; Korvex.exe: {build_note}; "
            f"load average {load_before} before, {load_after} after.")
