#!/usr/bin/env python3
"""What the stub's bytes are: the input sections a GNU ld map file (-Wl,-Map) kept, summed by the
archive member (or object) they came from, and by output section. With the image beside the map
(sfxstub.exe): its sections, which take whole blocks of the file (the file alignment), and
how many bytes each must lose before the file shrinks by one block.

    python3 bench/stub_size.py build/win32/sfxstub.map [COUNT]
"""
import re
import struct
import sys
from collections import defaultdict
from pathlib import Path

# An input section: " .name  0xADDRESS  0xSIZE  file", the name alone on the line before when long.
INPUT = re.compile(r"^ (\S+)?\s+0x([0-9a-fA-F]+)\s+0x([0-9a-fA-F]+)\s+(\S.*)$")
OUTPUT = re.compile(r"^(\.\S+|/\d+)\s+0x([0-9a-fA-F]+)\s+0x([0-9a-fA-F]+)")


def short_name(path):
    """libfoo.a(member.o) for archive members, the file name for objects."""
    match = re.match(r"^(.*?)([^/]+\.a)\((.+)\)$", path)
    if match:
        return f"{match.group(2)}({match.group(3)})"
    return Path(path).name


def contributors(map_text):
    """{member: bytes} and {output section: bytes} for what the link kept."""
    kept = map_text.split("Linker script and memory map", 1)[-1]
    by_member = defaultdict(int)
    by_section = defaultdict(int)
    section = None
    pending = None
    for line in kept.splitlines():
        out = OUTPUT.match(line)
        if out:
            section = out.group(1)
            by_section[section] += int(out.group(3), 16)
            continue
        if line.startswith(" ") and not line.startswith("  ") and len(line.split()) == 1:
            pending = line.strip()  # a long input section name; the numbers follow on the next line
            continue
        match = INPUT.match(line)
        if match and section and (match.group(1) or pending):
            size = int(match.group(3), 16)
            path = match.group(4).strip()
            if size and not path.startswith("*") and int(match.group(2), 16):
                by_member[short_name(path)] += size
        pending = None
    return by_member, by_section


def image_sections(image):
    """The file alignment and [(name, bytes, bytes in the file)] from a PE image's headers."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    count, optional = struct.unpack_from("<H", image, pe + 6)[0], struct.unpack_from("<H", image, pe + 20)[0]
    alignment = struct.unpack_from("<I", image, pe + 24 + 36)[0]
    table = pe + 24 + optional
    sections = []
    for i in range(count):
        name, size, _, raw = struct.unpack_from("<8sIII", image, table + 40 * i)
        sections.append((name.rstrip(b"\0").decode(errors="replace"), size, raw))
    return alignment, sections


def report(map_path, count=10, out=sys.stdout):
    by_member, by_section = contributors(Path(map_path).read_text(errors="replace"))
    print(f"     the {count} biggest contributors ({map_path}, input sections kept):", file=out)
    for name, size in sorted(by_member.items(), key=lambda item: -item[1])[:count]:
        print(f"       {size:>8} bytes  {name}", file=out)
    image = Path(map_path).with_suffix(".exe")
    if image.exists():
        alignment, sections = image_sections(image.read_bytes())
        print(f"     {image.name} by section: bytes, in the file, to lose for one {alignment}-byte block less:",
              file=out)
        for name, size, raw in sections:
            if raw:
                print(f"       {name:<8} {size:>8} {raw:>8} {size - (raw - alignment):>6}", file=out)
    return by_member, by_section


if __name__ == "__main__":
    report(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 10)
