#!/usr/bin/env python3
"""sfxpack's memory does not grow with the package: build with a 768 MiB setup program and a 1 GiB
listed file, plain and code-signed, and finish-signed on the code-signed package, each stay under
64 MiB of peak resident memory; so does verify of a package with a text record.

    big_package_memory_test.py SFXPACK STUB CERT_SCRIPT

The inputs are sparse files (a PE image, then zeros): they cost no disk; the packages written from
them do, up to 3 GiB at once. Exits 77 (skipped) without the stub; the code-signed part is skipped
without osslsigncode.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

tool, stub, cert_script = (os.path.abspath(a) for a in sys.argv[1:4])
LIMIT_KIB = 64 << 10
if not os.path.isfile(stub):
    print(f"SKIP: no stub at {stub} (./dev builds the win32 tree)")
    sys.exit(77)
work = tempfile.mkdtemp(prefix="sfxpack-memory.", dir=os.environ.get("TMPDIR", "/tmp"))
os.chdir(work)
failures = []


def sparse(path, size, head=b""):
    with open(path, "wb") as f:
        f.write(head)
        f.truncate(size)


def peak_kib(args, signer_runs=False):
    """Runs the tool; returns (status, its VmHWM in KiB, a bound on it, what it printed). Its
    VmHWM is read while it runs (it only grows; every 20 ms, so the last reading comes within 20 ms
    of the end). Without a code signer among its children, the bound also takes wait4's peak, which
    misses nothing but counts the memory of this script the child was forked from; with one, wait4
    would count the signer too."""
    with open("log", "wb") as log:
        process = subprocess.Popen([tool] + args, stdout=log, stderr=subprocess.STDOUT)
    peak = 0
    while True:
        try:
            with open(f"/proc/{process.pid}/status") as f:
                peak = max([peak] + [int(line.split()[1]) for line in f if line.startswith("VmHWM:")])
        except OSError:
            pass
        pid, status, usage = os.wait4(process.pid, os.WNOHANG)
        if pid != 0:
            break
        time.sleep(0.02)
    process.returncode = os.waitstatus_to_exitcode(status)
    bound = peak if signer_runs else max(peak, usage.ru_maxrss)
    with open("log") as f:
        return process.returncode, peak, bound, f.read()


def measured(what, args, signer_runs=False):
    status, hwm, peak, printed = peak_kib(args, signer_runs)
    print(f"{what}: exit {status}, VmHWM {hwm} KiB (bound {peak} KiB)")
    if status != 0:
        failures.append(f"{what}: exit {status}: {printed}")
    elif peak >= LIMIT_KIB or peak == 0:
        failures.append(f"{what}: peak resident {peak} KiB, not under {LIMIT_KIB}")
    return printed


# A real program, its resources and manifest included (the stub), then zeros.
with open(stub, "rb") as f:
    sparse("setup.exe", 768 << 20, f.read())
sparse("big.bin", 1 << 30)
subprocess.run([tool, "keygen", "-o", "k"], check=True, capture_output=True)
build = [
    "build", "--stub", stub, "--key", "k.key", "--setup", "setup.exe", "--file", "big.bin=big.bin"]

measured("build", build + ["-o", "plain.exe"])
os.remove("plain.exe")

# A text record's range is digested as the stub reads it (the stub refuses such a package, after
# the check).
sparse("text.bin", 256 << 20)
subprocess.run([tool, "build", "--stub", stub, "--key", "k.key", "--setup", "setup.exe", "--file",
                "text.bin=text.bin", "--record", "text", "-o", "text.exe"], check=True, capture_output=True)
status, hwm, peak, printed = peak_kib(["verify", "text.exe"])
print(f"verify of a text record: exit {status}, VmHWM {hwm} KiB (bound {peak} KiB)")
# The stub's refusal of the record's kind is said only once its digest has been checked.
if status != 1 or "text signature record is one the stub refuses" not in printed or peak >= LIMIT_KIB:
    failures.append(f"verify of a text record: exit {status}, peak {peak} KiB: {printed}")
os.remove("text.exe")

if shutil.which("osslsigncode") is None:
    print("SKIPPED: build --authenticode and finish-signed: no osslsigncode (scripts/deps.sh installs it)")
else:
    subprocess.run(["bash", cert_script, "certs"], check=True, capture_output=True)
    sign = f"osslsigncode sign -certs {work}/certs/cs.crt -key {work}/certs/cs.key -in {{in}} -out {{out}}"
    # The table's length, learnt from a small package, is tried first: one round for the big one.
    small = subprocess.run([tool, "build", "--stub", stub, "--key", "k.key", "--setup", "setup.exe",
                            "--authenticode", sign, "-o", "small.exe"], capture_output=True, text=True)
    table = re.search(r"certificate table (\d+) bytes", small.stdout)
    if not table:
        failures.append(f"small code-signed build: {small.stdout}{small.stderr}")
    else:
        measured("build --authenticode", build + [
            "--authenticode", sign, "--authenticode-size", table.group(1), "-o", "signed.exe"], signer_runs=True)
        # The code-signed package is what finish-signed takes: a code signer's output whose
        # checksum is already 0, so the finished package is the same bytes.
        if os.path.exists("signed.exe"):
            measured("finish-signed", ["finish-signed", "signed.exe", "-o", "finished.exe"])
            if subprocess.run(["cmp", "-s", "signed.exe", "finished.exe"]).returncode != 0:
                failures.append("finish-signed changed a package whose checksum was 0 already")

os.chdir("/")
shutil.rmtree(work)
if failures:
    for failure in failures:
        print("FAIL:", failure)
    sys.exit(1)
print("all under", LIMIT_KIB, "KiB")
