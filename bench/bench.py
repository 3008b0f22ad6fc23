#!/usr/bin/env python3
"""./dev bench: the stub and sfxpack against peers and the machine's floor, measured side by side.

Every row is a ratio of medians taken in this run, with the two sides alternating, so that a busy
machine slows both alike. Workloads are generated deterministically under build/bench.
"""
import json
import os
import random
import shutil
import statistics
import subprocess
import threading
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import build_rows  # noqa: E402
import compress_rows  # noqa: E402
import stub_size  # noqa: E402

ROOT = Path(__file__).resolve().parent.parent
WORK = ROOT / "build" / "bench"
HOST = ROOT / "build" / "host"
SFXPACK = HOST / "tools" / "sfxpack" / "sfxpack"
FLOOR_INFLATE = HOST / "bench" / "bench_floor_inflate"
STUB64 = ROOT / "build" / "win64" / "sfxstub.exe"
STUB32 = ROOT / "build" / "win32" / "sfxstub.exe"
EXIT_NOW = ROOT / "build" / "win64" / "bench" / "bench_exit_now.exe"
NSIS_STUB = Path("/usr/share/nsis/Stubs/zlib-x86-ansi")
WINE = "/usr/lib/wine/wine64"
MIB = 1 << 20


def log(text):
    print(text, file=sys.stderr, flush=True)


# ---------------------------------------------------------------------------------------------- data

def compressible(rng, size):
    """Bytes that zlib packs about 3:1, like a typical program: a skewed vocabulary with noise."""
    vocab = [rng.randbytes(rng.randint(4, 24)) for _ in range(2000)]
    out = bytearray()
    while len(out) < size:
        if rng.random() < 0.4:
            out += rng.randbytes(rng.randint(1, 8))
        else:
            out += vocab[min(int(rng.paretovariate(0.9)) - 1, len(vocab) - 1)]
    return bytes(out[:size])


def write_workload(name, setup_size, file_sizes, seed):
    root = WORK / name
    stamp = root / f".complete-pe-{setup_size}-{len(file_sizes)}-{sum(file_sizes)}"
    if stamp.exists():
        return root
    shutil.rmtree(root, ignore_errors=True)
    (root / "files").mkdir(parents=True)
    rng = random.Random(seed)
    # The headers sfxpack checks a setup program for ("MZ", "PE" where it points, amd64), then data.
    header = b"MZ" + bytes(58) + b"\x40\0\0\0PE\0\0\x64\x86"
    (root / "setup.exe").write_bytes(header + compressible(rng, setup_size - len(header)))
    for i, size in enumerate(file_sizes):
        (root / "files" / f"payload{i:03d}.bin").write_bytes(rng.randbytes(size))
    epoch = 1700000000
    for path in root.rglob("*"):
        os.utime(path, (epoch, epoch))
    stamp.touch()
    return root


def workloads():
    rng = random.Random(7)
    # W1: 32 MiB setup program, 300 incompressible files of 64 MiB in all.
    sizes = [rng.randint(1, 400) for _ in range(300)]
    scale = 64 * MIB / sum(sizes)
    w1_sizes = [int(s * scale) for s in sizes]
    w1_sizes[-1] += 64 * MIB - sum(w1_sizes)
    w1 = write_workload("w1", 32 * MIB, w1_sizes, 1)
    w2 = write_workload("w2", 200 * 1000, [3000, 17000, 900], 2)
    w3 = write_workload("w3", 1 * MIB, [63 * MIB + 512 * 1024] * 4, 3)
    return w1, w2, w3


# ------------------------------------------------------------------------------------------ packages

def run(cmd, **kw):
    return subprocess.run([str(c) for c in cmd], check=True, **kw)


def key():
    path = WORK / "bench.key"
    if not path.exists():
        run([SFXPACK, "keygen", "--out", WORK / "bench"], stdout=subprocess.DEVNULL)
    return path


def package(workload, stub, setup, name):
    out = WORK / f"{workload.name}-{name}.exe"
    if not out.exists() or out.stat().st_mtime < max(p.stat().st_mtime for p in (stub, setup, SFXPACK)):
        cmd = [SFXPACK, "build", "--stub", stub, "--key", key(), "--setup", setup,
               "--dir", workload / "files", "-o", out]
        run(cmd, stdout=subprocess.DEVNULL, env=dict(os.environ, SOURCE_DATE_EPOCH="1700000000"))
    return out


def runnable_setup(workload):
    """The workload's setup program made runnable: the exit-now program with the workload's
    compressible bytes appended up to the same size (Windows ignores data after the image)."""
    out = WORK / f"{workload.name}-setup-exit-now.exe"
    if not out.exists() or out.stat().st_mtime < EXIT_NOW.stat().st_mtime:
        image = EXIT_NOW.read_bytes()
        body = (workload / "setup.exe").read_bytes()
        out.write_bytes(image + body[:max(0, len(body) - len(image))])
    return out


def nsis_installer(workload, setup):
    out = WORK / f"{workload.name}-nsis.exe"
    if out.exists() and out.stat().st_mtime >= setup.stat().st_mtime:
        return out
    script = WORK / f"{workload.name}.nsi"
    lines = [
        "Unicode true", "Target amd64-unicode", "SetCompressor zlib", "RequestExecutionLevel user",
        f'OutFile "{out}"', "SilentInstall silent", "Section",
        "  InitPluginsDir", '  SetOutPath "$PLUGINSDIR"', f'  File "/oname=setup.exe" "{setup}"',
    ]
    for f in sorted((workload / "files").iterdir()):
        lines.append(f'  File "{f}"')
    lines += ['  ExecWait \'"$PLUGINSDIR\\setup.exe"\'', "SectionEnd"]
    script.write_text("\n".join(lines) + "\n")
    run(["makensis", "-V1", script], stdout=subprocess.DEVNULL)
    return out


# -------------------------------------------------------------------------------------------- timing

def wall(cmd, env=None, attempts=1):
    """Seconds one run of cmd takes; a run that fails stops the benchmark rather than count."""
    for attempt in range(attempts):
        start = time.perf_counter()
        # A blocking wait, with a timer to stop a hung run: subprocess's own timeout polls with
        # sleeps that double up to 50 ms, which rounded every run under 0.1 s up to 63.5 ms.
        proc = subprocess.Popen([str(c) for c in cmd], env=env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        watchdog = threading.Timer(600, proc.kill)
        watchdog.start()
        returncode = proc.wait()
        elapsed = time.perf_counter() - start
        watchdog.cancel()
        if returncode == 0:
            return elapsed
        log(f"  (run {attempt + 1} of {' '.join(map(str, cmd))} exited with {res.returncode})")
    raise SystemExit(f"bench: {' '.join(map(str, cmd))} failed {attempts} times")


def side_by_side(a, b, runs, prepare=None):
    """Medians of a() and b() over runs rounds, alternating; prepare runs untimed before each."""
    ta, tb = [], []
    for _ in range(runs):
        for fn, out in ((a, ta), (b, tb)):
            if prepare:
                prepare()
            out.append(fn())
    return statistics.median(ta), statistics.median(tb)


def peak_rss_kib(cmd, env):
    res = subprocess.run(["/usr/bin/time", "-f", "%M"] + [str(c) for c in cmd], env=env,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(res.stderr.strip().splitlines()[-1])


class Wine:
    def __init__(self):
        self.prefix = WORK / "wineprefix"
        shutil.rmtree(self.prefix, ignore_errors=True)
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        subprocess.run([WINE, "wineboot", "--init"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["/usr/lib/wine/wineserver", "-p", "900"], env=self.env)
        # Xvfb runs no window manager: without this, Wine waits up to two seconds for one to withdraw
        # each window it hides.
        subprocess.run([WINE, "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                        "/d", "N", "/f"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def cmd(self, exe, *args):
        return [WINE, exe, *args]

    def wall(self, exe, *args):
        # Wine itself now and then fails to start a program (exit 1, nothing run); one retry, logged.
        # A stub that failed would show its error box and never come back, so this hides no fault.
        return wall(self.cmd(exe, *args), self.env, attempts=2)

    def close(self):
        subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=self.env)
        shutil.rmtree(self.prefix, ignore_errors=True)


# ---------------------------------------------------------------------------------------------- rows

ROWS = []


def row(name, ours, theirs, target, unit="s", note=""):
    ratio = ours / theirs if theirs else float("inf")
    ROWS.append((name, ours, theirs, ratio, target, unit, note))
    mark = "met" if ratio <= target else "MISSED"
    log(f"  {name}: {ours:.3f}{unit} vs {theirs:.3f}{unit} = {ratio:.2f}x (target <= {target:.2f}x, {mark})")


def extract_blob(pkg, offset, size):
    path = WORK / "main-blob.bin"
    with open(pkg, "rb") as f:
        f.seek(offset)
        path.write_bytes(f.read(size))
    return path


def bench_native(w1, w3, runs):
    pkg = package(w1, STUB64 if STUB64.exists() else SFXPACK, w1 / "setup.exe", "native")
    info = json.loads(run([SFXPACK, "list", "--json", pkg], capture_output=True, text=True).stdout)
    blob = extract_blob(pkg, info["mainProgram"]["offset"], info["mainProgram"]["size"])
    out = WORK / "out"

    def clean():
        shutil.rmtree(out, ignore_errors=True)

    def ours():
        return wall([SFXPACK, "extract", pkg, out])

    def floor():
        return (wall(["md5sum", pkg]) + wall([FLOOR_INFLATE, blob]) +
                wall(["cp", "-r", w1 / "files", out]))

    a, b = side_by_side(ours, floor, runs, prepare=clean)
    row("2. W1 native work (sfxpack extract) / floor (md5sum + inflate + cp)", a, b, 1.25)

    zip_path, sevenz = WORK / "w1.zip", WORK / "w1.7z"
    if not zip_path.exists():
        run(["zip", "-q", "-j", "-9", zip_path, w1 / "setup.exe"])
        run(["zip", "-q", "-j", "-0", zip_path] + sorted((w1 / "files").iterdir()))
    if not sevenz.exists():
        run(["7zz", "a", "-bd", "-bso0", sevenz, w1 / "setup.exe", w1 / "files"])
    a, b = side_by_side(ours, lambda: wall(["unzip", "-q", "-o", zip_path, "-d", out]), runs, prepare=clean)
    row("4a. sfxpack extract W1 / unzip", a, b, 1.0)
    a, b = side_by_side(ours, lambda: wall(["7zz", "x", "-bd", "-y", f"-o{out}", sevenz]), runs, prepare=clean)
    row("4b. sfxpack extract W1 / 7zz x", a, b, float("inf"), note="for information")
    clean()

    pkg3 = package(w3, STUB64 if STUB64.exists() else SFXPACK, w3 / "setup.exe", "native")
    a, b = side_by_side(lambda: wall([SFXPACK, "verify", pkg3]), lambda: wall(["md5sum", pkg3]), runs)
    row("3. sfxpack verify W3 (256 MiB) / md5sum", a, b, 1.10)


def bench_size():
    """Row 5, the stripped size of both stubs, and the ten biggest contributors of the 32-bit one by
    archive member, from the map the link writes beside it."""
    if not STUB32.exists():
        log("  5. skipped: build/win32/sfxstub.exe is missing")
        return
    sizes = {}
    for bits, stub, strip in ((32, STUB32, "i686-w64-mingw32-strip"), (64, STUB64, "x86_64-w64-mingw32-strip")):
        if stub.exists():
            stripped = WORK / f"sfxstub{bits}-stripped.exe"
            run([strip, "-o", stripped, stub])
            sizes[bits] = stripped.stat().st_size
            log(f"     {bits}-bit stub, stripped: {sizes[bits]} bytes ({stub})")
    if NSIS_STUB.exists():
        ours, theirs = sizes[32], NSIS_STUB.stat().st_size
        row("5. 32-bit stub size (stripped) / NSIS zlib-x86-ansi stub", ours / 1024, theirs / 1024,
            256 * 1024 / theirs, unit=" KiB", note="target: <= 256 KiB")
    else:
        log(f"  5. no ratio: {NSIS_STUB} is missing (./dev bench installs nsis)")
    sections = run(["i686-w64-mingw32-objdump", "-h", WORK / "sfxstub32-stripped.exe"],
                   capture_output=True, text=True).stdout
    log("     sections of the stripped 32-bit stub:")
    for line in sections.splitlines():
        parts = line.split()
        if len(parts) >= 3 and parts[0].isdigit():
            log(f"       {parts[1]:<10} {int(parts[2], 16):>8} bytes")
    stub_map = STUB32.with_suffix(".map")
    if stub_map.exists():
        stub_size.report(stub_map, 10, out=sys.stderr)


def bench_wine(w1, w2, runs):
    if not (STUB64.exists() and EXIT_NOW.exists()):
        log("  1, 6, 7: skipped: build/win64/sfxstub.exe or the exit-now program is missing")
        return
    wine = Wine()
    try:
        for w, n in ((w1, runs), (w2, runs * 2)):
            setup = runnable_setup(w)
            ours = package(w, STUB64, setup, "stub")
            theirs = nsis_installer(w, setup)
            wine.wall(ours, "/silent")
            wine.wall(theirs, "/S")
            a, b = side_by_side(lambda: wine.wall(ours, "/silent"), lambda: wine.wall(theirs, "/S"), n)
            row(f"1. end to end under wine64, {w.name.upper()}: stub /silent / NSIS /S", a, b, 1.0)
            if w is w1:
                rss_ours = peak_rss_kib(wine.cmd(ours, "/silent"), wine.env)
                rss_nsis = peak_rss_kib(wine.cmd(theirs, "/S"), wine.env)
                row("6. peak RSS W1 (MiB): stub / NSIS", rss_ours / 1024, rss_nsis / 1024, 1.2,
                    unit=" MiB")
                if os.environ.get("DISPLAY"):
                    a, b = side_by_side(lambda: wine.wall(ours), lambda: wine.wall(ours, "/silent"),
                                        runs)
                    row("7. W1 with the progress window / /silent (under Xvfb)", a, b, 1.05)
    finally:
        wine.close()


def big_workload():
    """W4, a package of about 1.5 GiB: a 32 MiB setup program, a 1.25 GiB file (zeros, sparse on
    disk) and a 200 MiB incompressible one, as a game ships a cabinet beside its setup program."""
    root = WORK / "w4"
    stamp = root / ".complete"
    if stamp.exists():
        return root
    shutil.rmtree(root, ignore_errors=True)
    (root / "files").mkdir(parents=True)
    rng = random.Random(4)
    header = b"MZ" + bytes(58) + b"\x40\0\0\0PE\0\0\x64\x86"
    (root / "setup.exe").write_bytes(header + compressible(rng, 32 * MIB - len(header)))
    with open(root / "files" / "cabinet.bin", "wb") as f:
        f.truncate(1280 * MIB)
    with open(root / "files" / "data.bin", "wb") as f:
        for _ in range(200):
            f.write(rng.randbytes(MIB))
    for path in root.rglob("*"):
        os.utime(path, (1700000000, 1700000000))
    stamp.touch()
    return root


def bench_big(runs):
    """8: the 1.5 GiB package: sfxpack build against makensis with the same files (time, peak memory),
    and the stub end to end under Wine against the NSIS installer (time, peak memory)."""
    if not (STUB64.exists() and EXIT_NOW.exists()):
        log("  8: skipped: build/win64/sfxstub.exe or the exit-now program is missing")
        return
    w4 = big_workload()
    setup = runnable_setup(w4)
    out = WORK / "w4-stub.exe"
    build = [SFXPACK, "build", "--stub", STUB64, "--key", key(), "--setup", setup, "--dir", w4 / "files",
             "-o", out]
    nsis = nsis_installer(w4, setup)
    script = WORK / "w4.nsi"
    a, b = side_by_side(lambda: wall(build), lambda: wall(["makensis", "-V1", script]), max(1, runs // 3))
    row("8a. 1.5 GiB package, build: sfxpack / makensis", a, b, 1.0)
    rss_build = peak_rss_kib(build, None)
    rss_makensis = peak_rss_kib(["makensis", "-V1", script], None)
    row("8b. 1.5 GiB package, build peak RSS (MiB): sfxpack / makensis", rss_build / 1024, rss_makensis / 1024,
        64 * 1024 / rss_makensis, unit=" MiB", note="target: sfxpack <= 64 MiB")
    wine = Wine()
    try:
        wine.wall(out, "/silent")
        wine.wall(nsis, "/S")
        a, b = side_by_side(lambda: wine.wall(out, "/silent"), lambda: wine.wall(nsis, "/S"), max(1, runs // 3))
        row("8c. 1.5 GiB package, end to end under wine64: stub /silent / NSIS /S", a, b, 1.0)
        rss_ours = peak_rss_kib(wine.cmd(out, "/silent"), wine.env)
        rss_nsis = peak_rss_kib(wine.cmd(nsis, "/S"), wine.env)
        row("8d. 1.5 GiB package, peak RSS under wine64 (MiB): stub / NSIS", rss_ours / 1024, rss_nsis / 1024, 1.2,
            unit=" MiB")
    finally:
        wine.close()


def main():
    """./dev bench [native] [size] [wine] [big] [build] [compress]: the groups of rows to run, all by
    default."""
    groups = set(sys.argv[1:]) or {"native", "size", "wine", "big", "build", "compress"}
    runs = int(os.environ.get("SFX_BENCH_RUNS", "7"))
    WORK.mkdir(parents=True, exist_ok=True)
    if groups != {"size"}:
        log("== bench: generating workloads")
        w1, w2, w3 = workloads()
    if "native" in groups:
        log("== bench: native rows")
        bench_native(w1, w3, runs)
    if "size" in groups:
        bench_size()
    if "wine" in groups:
        log("== bench: Wine rows")
        bench_wine(w1, w2, runs)
    if "big" in groups:
        log("== bench: the 1.5 GiB package")
        bench_big(runs)
    if "build" in groups:
        log("== bench: build rows")
        build_rows.run(sys.modules[__name__], (w1, w2, w3), runs)
    if "compress" in groups:
        log("== bench: compression rows")
        compress_rows.run(sys.modules[__name__], w1, w2, runs)
    print("\n| row | ours | peer/floor | ratio | target |")
    print("|---|---|---|---|---|")
    for name, ours, theirs, ratio, target, unit, note in sorted(ROWS, key=lambda r: r[0]):
        tgt = note if note else f"<= {target}x"
        print(f"| {name} | {ours:.3f}{unit} | {theirs:.3f}{unit} | {ratio:.2f}x | {tgt} |")


if __name__ == "__main__":
    main()
