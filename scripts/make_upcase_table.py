#!/usr/bin/env python3
"""Prints the upper-case table of sfxstub/archive/entry_name.cc: the one-to-one upper-case mappings
of the Basic Multilingual Plane, as runs {first, last, delta, stride} (delta modulo 0x10000)."""
import unicodedata

mapping = {}
for cp in range(0x10000):
    if 0xD800 <= cp < 0xE000:
        continue
    upper = chr(cp).upper()
    if len(upper) == 1 and upper != chr(cp) and ord(upper) < 0x10000:
        mapping[cp] = ord(upper)

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

print(f"// Unicode {unicodedata.unidata_version}: {len(mapping)} code points in {len(runs)} runs.")
line = ""
for first, last, delta, stride in runs:
    item = f"{{0x{first:04X}, 0x{last:04X}, 0x{delta:04X}, {stride}}}, "
    if len(line) + len(item) > 100:
        print(line.rstrip())
        line = ""
    line += item
print(line.rstrip())
