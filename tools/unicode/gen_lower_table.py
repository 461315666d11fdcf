#!/usr/bin/env python3
"""Generates the full lower-case mapping table of src/common/unicode_lower.cpp.

Python's str.lower() on a single character is exactly the full lower-case
mapping without context: UnicodeData's simple mappings plus SpecialCasing's
unconditional ones (U+0130 -> U+0069 U+0307), never Final_Sigma or a
language's rules. The table therefore carries the Unicode version of the
Python that runs this script; it prints that version.

Writes two files (paths relative to the repository root):
  src/common/unicode_lower_table.inc   the table, compiled into the product
  tests/unit/unicode_lower_reference.inc   a checksum of the whole mapping,
      computed from str.lower() directly (not from the table), so the unit
      test checks the C++ lookup against the source of truth.

Usage: python3 tools/unicode/gen_lower_table.py
Standard library only.
"""

import pathlib
import sys
import unicodedata

ROOT = pathlib.Path(__file__).resolve().parents[2]
TABLE = ROOT / "src/common/unicode_lower_table.inc"
REFERENCE = ROOT / "tests/unit/unicode_lower_reference.inc"
COMMAND = "python3 tools/unicode/gen_lower_table.py"
MAX_EXPANSION = 3  # SpecialCasing never maps to more than three code points


def scalar_values():
    return (c for c in range(0x110000) if not 0xD800 <= c <= 0xDFFF)


def lower(c):
    return [ord(x) for x in chr(c).lower()]


def build():
    """Returns (ranges, expansions) covering every code point that changes."""
    deltas = {}
    expansions = []
    for c in scalar_values():
        mapped = lower(c)
        if mapped == [c]:
            continue
        if len(mapped) == 1:
            deltas[c] = mapped[0] - c
        else:
            assert len(mapped) <= MAX_EXPANSION, hex(c)
            expansions.append((c, mapped))

    # Greedy runs: stride 1 for blocks shifted by one offset (A-Z, Cyrillic),
    # stride 2 for alternating capital/small pairs (Latin Extended-A), whose
    # code points in between must map to themselves so runs never overlap.
    ranges = []
    points = sorted(deltas)
    i = 0
    while i < len(points):
        first = points[i]
        delta = deltas[first]
        stride = 1
        if deltas.get(first + 1) != delta and deltas.get(first + 2) == delta \
                and first + 1 not in deltas:
            stride = 2
        last = first
        while deltas.get(last + stride) == delta and \
                (stride == 1 or last + 1 not in deltas):
            last += stride
        ranges.append((first, last, delta, stride))
        i = points.index(last, i) + 1
    return ranges, expansions


def check(ranges, expansions):
    """Rebuilds the mapping from the table and compares every code point."""
    table = {}
    for first, last, delta, stride in ranges:
        for c in range(first, last + 1, stride):
            assert c not in table, hex(c)
            table[c] = [c + delta]
    for c, mapped in expansions:
        assert c not in table, hex(c)
        table[c] = mapped
    starts = [r[0] for r in ranges]
    assert starts == sorted(starts)
    assert all(a[1] < b[0] for a, b in zip(ranges, ranges[1:]))
    for c in scalar_values():
        assert table.get(c, [c]) == lower(c), hex(c)


def checksum():
    """FNV-1a 64 over UTF-8 of lower(c) for every scalar value, each followed
    by 0xFF (a byte UTF-8 never uses)."""
    h = 0xCBF29CE484222325
    for c in scalar_values():
        for byte in chr(c).lower().encode("utf-8") + b"\xff":
            h = ((h ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


def header(version):
    return (f"// Generated from Unicode {version} (Python's unicodedata) by\n"
            f"//   {COMMAND}\n// Do not edit by hand.\n")


def main():
    version = unicodedata.unidata_version
    ranges, expansions = build()
    check(ranges, expansions)

    lines = [header(version),
             "// {first, last, delta, stride}: every c in [first, last] with",
             "// (c - first) % stride == 0 lower-cases to c + delta.",
             "constexpr LowerRange kLowerRanges[] = {"]
    lines += [f"    {{0x{f:04X}, 0x{l:04X}, {d}, {s}}}," for f, l, d, s in ranges]
    lines += ["};", "",
              "// Code points whose lower case is more than one code point.",
              "constexpr LowerExpansion kLowerExpansions[] = {"]
    for c, mapped in expansions:
        padded = mapped + [0] * (MAX_EXPANSION - len(mapped))
        to = ", ".join(f"0x{m:04X}" for m in padded)
        lines.append(f"    {{0x{c:04X}, {len(mapped)}, {{{to}}}}},")
    lines.append("};")
    TABLE.write_text("\n".join(lines) + "\n", encoding="utf-8", newline="\n")

    REFERENCE.write_text(
        header(version)
        + "// FNV-1a 64 over the UTF-8 lower case of every scalar value, each followed by 0xFF.\n"
        + f"constexpr std::uint64_t kLowerReferenceChecksum = 0x{checksum():016X}u;\n",
        encoding="utf-8", newline="\n")

    changed = sum(l - f + 1 if s == 1 else (l - f) // 2 + 1 for f, l, _, s in ranges)
    print(f"Unicode {version}: {len(ranges)} ranges covering {changed} code points,"
          f" {len(expansions)} expansions")
    return 0


if __name__ == "__main__":
    sys.exit(main())
