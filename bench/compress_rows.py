"""./dev bench compress: what compression buys, sfxpack against makensis with its default compressor
(zlib, each file on its own) and with `SetCompressor /SOLID lzma`, for W1, W2 and a real,
compressible tree (the files of Debian's nsis package, /usr/share/nsis, which ./dev bench installs).

Rows, each measured in this run:
- the package's size, sfxpack build against each makensis (target: within 1.1x of NSIS zlib);
- the build's wall time, the sides alternating (target: at or under makensis);
- W1 and W2 end to end under wine64, the stub /silent against each NSIS installer /S (target: at
  or under NSIS, as row 1, which runs the default compressor's installer too).

The packages carry what sfxpack build does with listed files today: the rows need no change when it
compresses them.
"""
import os
import shutil
import subprocess
from pathlib import Path

TREE_SOURCE = Path("/usr/share/nsis")
COMPRESSORS = (("zlib", []), ("lzma", ["SetCompressor /SOLID lzma"]))


def tree_workload(bench):
    """The nsis package's files, flattened into one folder (a listed file lives directly in the
    extraction folder): Plugins/x86-ansi/Banner.dll becomes Plugins_x86-ansi_Banner.dll. The setup
    program is the exit-now program, a real amd64 image."""
    root = bench.WORK / "tree"
    stamp = root / ".complete"
    if stamp.exists():
        return root
    shutil.rmtree(root, ignore_errors=True)
    (root / "files").mkdir(parents=True)
    for path in sorted(TREE_SOURCE.rglob("*")):
        if path.is_file() and not path.is_symlink():
            name = "_".join(path.relative_to(TREE_SOURCE).parts)
            shutil.copyfile(path, root / "files" / name)
    shutil.copyfile(bench.EXIT_NOW, root / "setup.exe")
    for path in root.rglob("*"):
        os.utime(path, (1700000000, 1700000000))
    stamp.touch()
    return root


def nsis_script(bench, workload, setup, compressor, out):
    script = bench.WORK / f"{workload.name}-{compressor}.nsi"
    lines = ["Unicode true", "Target amd64-unicode", *dict(COMPRESSORS)[compressor], "RequestExecutionLevel user",
             f'OutFile "{out}"', "SilentInstall silent", "Section", "  InitPluginsDir",
             '  SetOutPath "$PLUGINSDIR"', f'  File "/oname=setup.exe" "{setup}"']
    lines += [f'  File "{f}"' for f in sorted((workload / "files").iterdir())]
    lines += ['  ExecWait \'"$PLUGINSDIR\\setup.exe"\'', "SectionEnd"]
    script.write_text("\n".join(lines) + "\n")
    return script


def sfxpack_build(bench, workload, setup, out):
    return [bench.SFXPACK, "build", "--stub", bench.STUB64, "--key", bench.key(), "--setup", setup,
            "--dir", workload / "files", "-o", out]


def size_and_time(bench, workload, label, rounds):
    """Rows c1 (size) and c2 (build time) for one workload, against both compressors."""
    setup = workload / "setup.exe"
    ours_out = bench.WORK / f"{workload.name}-compress-sfxpack.exe"
    ours = sfxpack_build(bench, workload, setup, ours_out)
    for compressor, _ in COMPRESSORS:
        theirs_out = bench.WORK / f"{workload.name}-compress-nsis-{compressor}.exe"
        theirs = ["makensis", "-V1", nsis_script(bench, workload, setup, compressor, theirs_out)]
        # Every round starts with nothing left to write back: sfxpack syncs its output before renaming
        # it into place, and would otherwise wait for the previous rows' hundreds of MiB.
        a, b = bench.side_by_side(lambda: bench.wall(ours), lambda: bench.wall(theirs), rounds, prepare=os.sync)
        bench.row(f"c2. build {label}: sfxpack build / makensis {compressor}", a, b, 1.0)
        size_ours, size_theirs = ours_out.stat().st_size, theirs_out.stat().st_size
        bench.row(f"c1. package size {label}: sfxpack / NSIS {compressor}", size_ours / 1024, size_theirs / 1024,
                  1.1 if compressor == "zlib" else float("inf"), unit=" KiB",
                  note="" if compressor == "zlib" else "for information")
        theirs_out.unlink(missing_ok=True)
    ours_out.unlink(missing_ok=True)


def end_to_end(bench, workloads, runs):
    """Row c3: the stub's package against both NSIS installers, each carrying the same runnable setup
    program (the exit-now program padded to the workload's size) and files."""
    wine = bench.Wine()
    try:
        for workload, rounds in workloads:
            setup = bench.runnable_setup(workload)
            ours = bench.package(workload, bench.STUB64, setup, "stub")
            for compressor, _ in COMPRESSORS:
                # Kept between runs: W1's solid lzma build takes minutes.
                theirs = bench.WORK / f"{workload.name}-e2e-nsis-{compressor}.exe"
                if not theirs.exists() or theirs.stat().st_mtime < setup.stat().st_mtime:
                    bench.run(["makensis", "-V1", nsis_script(bench, workload, setup, compressor, theirs)],
                              stdout=subprocess.DEVNULL)
                wine.wall(ours, "/silent")
                wine.wall(theirs, "/S")
                a, b = bench.side_by_side(lambda: wine.wall(ours, "/silent"), lambda: wine.wall(theirs, "/S"),
                                          rounds)
                bench.row(f"c3. end to end under wine64, {workload.name.upper()}: stub /silent / NSIS {compressor} /S",
                          a, b, 1.0)
    finally:
        wine.close()


def run(bench, w1, w2, runs):
    if not (bench.STUB64.exists() and bench.EXIT_NOW.exists()):
        bench.log("  c: skipped: build/win64/sfxstub.exe or the exit-now program is missing")
        return
    if not TREE_SOURCE.is_dir():
        bench.log(f"  c: skipped: {TREE_SOURCE} is missing (./dev bench installs nsis)")
        return
    tree = tree_workload(bench)
    # W1's makensis lzma build takes minutes on this machine: fewer rounds there.
    for workload, label, rounds in ((w1, "W1", max(1, runs // 3)), (w2, "W2", runs),
                                    (tree, f"{TREE_SOURCE} (nsis)", max(1, runs // 2))):
        size_and_time(bench, workload, label, rounds)
    end_to_end(bench, ((w1, runs), (w2, runs * 2)), runs)
