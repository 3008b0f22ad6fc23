"""Row 8 of ./dev bench: building a package, sfxpack build against makensis, for the same payload
(W1, W2 and W3, the 256 MiB one): wall time (medians, the two sides alternating) and peak memory.

The NSIS script is the one the Wine rows run (zlib, amd64-unicode, every file into $PLUGINSDIR), so
both tools do the work a release build does: compress the setup program, take in every file, write
one executable. sfxpack also signs it.
"""
import os

import compress_rows


def run(bench, workloads, runs):
    stub = bench.STUB64 if bench.STUB64.exists() else bench.STUB32
    if not stub.exists():
        bench.log("  8: skipped: no stub built (build/win64/sfxstub.exe)")
        return
    key = bench.key()
    for workload in workloads:
        ours_out = bench.WORK / f"{workload.name}-build-sfxpack.exe"
        theirs_out = bench.WORK / f"{workload.name}-build-nsis.exe"
        ours = [bench.SFXPACK, "build", "--stub", stub, "--key", key, "--setup", workload / "setup.exe",
                "--dir", workload / "files", "-o", ours_out]
        theirs = ["makensis", "-V1",
                  compress_rows.nsis_script(bench, workload, workload / "setup.exe", "zlib", theirs_out)]
        label = {"w1": "W1", "w2": "W2", "w3": "W3 (256 MiB)"}[workload.name]
        rounds = runs if workload.name == "w2" else max(3, runs // 2)
        # Every round starts with nothing left to write back: sfxpack syncs its output before renaming
        # it into place, and would otherwise wait for the previous rows' hundreds of MiB.
        a, b = bench.side_by_side(lambda: bench.wall(ours), lambda: bench.wall(theirs), rounds, prepare=os.sync)
        bench.row(f"8. build {label}: sfxpack build / makensis", a, b, 1.0)
        rss_ours = bench.peak_rss_kib(ours, None)
        rss_theirs = bench.peak_rss_kib(theirs, None)
        bench.row(f"8. peak memory, build {label}: sfxpack build / makensis", rss_ours / 1024, rss_theirs / 1024,
                  1.0, unit=" MiB")
        for path in (ours_out, theirs_out):
            path.unlink(missing_ok=True)
