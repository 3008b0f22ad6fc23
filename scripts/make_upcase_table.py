#!/usr/bin/env python3
"""Prints the upper-case table of sfxstub/archive/entry_name.cc: the simple (one-to-one) upper-case
mappings of the Basic Multilingual Plane, field 12 of the Unicode character database's UnicodeData.txt,
as runs {first, last, delta, stride} (delta modulo 0x10000).

Windows folds file names one UTF-16 unit at a time, so the simple mapping is the one to follow:
str.upper() gives the full mapping, which turns some characters into two (U+1F80 into U+1F08 U+0399)
that a one-to-one table cannot hold.

  scripts/make_upcase_table.py [UnicodeData.txt]   (default: Debian's unicode-data package)
"""
import os
import re
import sys

path = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/unicode/UnicodeData.txt"
version = "?"
age = os.path.join(os.path.dirname(path), "DerivedAge.txt")
if os.path.exists(age):
    with open(age, encoding="utf-8") as f:
        match = re.search(r"DerivedAge-([0-9.]+)\.txt", f.readline())
        version = match.group(1) if match else version

mapping = {}
with open(path, encoding="utf-8") as f:
    for line in f:
        fields = line.split(";")
        cp, upper = int(fields[0], 16), fields[12]
        if cp < 0x10000 and upper and int(upper, 16) < 0x10000:
            mapping[cp] = int(upper, 16)

points = sorted(mapping)
runs = []
i = 0
while i < len(points):
    first = points[i]
    delta = mapping[first] - first
    ends = {}
    for stride in (1, 2):
        j = i
        while (j + 1 < len(points) and points[j + 1] == points[j] + stride
               and mapping[points[j + 1]] - points[j + 1] == delta):
            j += 1
        ends[stride] = j
    stride = 1 if ends[1] >= ends[2] else 2
    runs.append((first, points[ends[stride]], delta % 0x10000, stride))
    i = ends[stride] + 1

print(f"// Unicode {version}: {len(mapping)} code points in {len(runs)} runs.")
line = ""
for first, last, delta, stride in runs:
    item = f"{{0x{first:04X}, 0x{last:04X}, 0x{delta:04X}, {stride}}}, "
    if len(line) + len(item) > 100:
        print(line.rstrip())
        line = ""
    line += item
print(line.rstrip())
