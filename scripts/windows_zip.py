#!/usr/bin/env python3
"""The Windows zip: sfxstub-VERSION-windows-x86_64.zip, for a Windows user who has no tar.

    windows_zip.py ROOT OUTDIR

Takes the trees ROOT/build/win64 (sfxpack.exe, the 64-bit stub), ROOT/build/win32 (the 32-bit stub)
and the version from ROOT/build/host. Inside, one folder laid out as the Linux install is, so that
bin\\sfxpack.exe finds its default stub at ..\\share\\sfxstub\\sfxstub.exe with no --stub:

    sfxstub-VERSION-windows-x86_64\\bin\\sfxpack.exe           stripped of its symbols and debug sections
    sfxstub-VERSION-windows-x86_64\\share\\sfxstub\\sfxstub.exe   the 32-bit stub (the default)
    sfxstub-VERSION-windows-x86_64\\share\\sfxstub\\sfxstub64.exe the 64-bit stub
    sfxstub-VERSION-windows-x86_64\\share\\sfxstub\\msirunner.exe, msirunner64.exe  the MSI runners (build --msi)
    sfxstub-VERSION-windows-x86_64\\README-windows.txt, LICENSE.txt, sfxpack.txt (the manual)

Texts get CRLF line ends. Entries carry one fixed time, so the same inputs give the same zip.
"""
import os
import re
import subprocess
import sys
import tempfile
import zipfile

root, outdir = sys.argv[1], sys.argv[2]
build = os.path.join(root, "build")
with open(os.path.join(build, "host", "CMakeCache.txt")) as cache:
    version = re.search(r"^CMAKE_PROJECT_VERSION:STATIC=(.*)$", cache.read(), re.M).group(1)
name = f"sfxstub-{version}-windows-x86_64"
sfxpack = os.path.join(build, "win64", "tools", "sfxpack", "sfxpack.exe")
stubs = {"sfxstub.exe": os.path.join(build, "win32", "sfxstub.exe"),
         "sfxstub64.exe": os.path.join(build, "win64", "sfxstub.exe"),
         "msirunner.exe": os.path.join(build, "win32", "msirunner.exe"),
         "msirunner64.exe": os.path.join(build, "win64", "msirunner.exe")}
for path in [sfxpack] + list(stubs.values()):
    if not os.path.isfile(path):
        sys.exit(f"windows_zip: {path} is missing (./dev build makes it)")


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode()


def manual():
    page = os.path.join(root, "tools", "sfxpack", "sfxpack.1")
    text = subprocess.run(["nroff", "-man", "-Tascii", page], check=True, capture_output=True,
                          env=dict(os.environ, MANWIDTH="80")).stdout
    # Overstrikes (bold, underline) out, as col -b does.
    return crlf(re.sub(rb".\x08", b"", text).decode("ascii", "replace"))


with tempfile.TemporaryDirectory() as scratch:
    stripped = os.path.join(scratch, "sfxpack.exe")
    subprocess.run(["x86_64-w64-mingw32-strip", "-o", stripped, sfxpack], check=True)
    with open(os.path.join(root, "packaging", "README-windows.txt")) as f:
        readme = f.read()
    with open(os.path.join(root, "LICENSE")) as f:
        licence = f.read()
    entries = [("bin/sfxpack.exe", open(stripped, "rb").read())]
    entries += [(f"share/sfxstub/{n}", open(p, "rb").read()) for n, p in stubs.items()]
    entries += [("README-windows.txt", crlf(readme)), ("LICENSE.txt", crlf(licence)), ("sfxpack.txt", manual())]
    os.makedirs(outdir, exist_ok=True)
    target = os.path.join(outdir, name + ".zip")
    with zipfile.ZipFile(target + ".tmp", "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        for entry, data in entries:
            info = zipfile.ZipInfo(f"{name}/{entry}", date_time=(2000, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = (0o755 if entry.endswith(".exe") else 0o644) << 16
            archive.writestr(info, data)
    os.replace(target + ".tmp", target)
print(target)
