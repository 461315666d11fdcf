#!/usr/bin/env python3
"""Prints the file version (a.b.c.d) of a Windows executable, read from the
fixed file information of its version resource, or "no version"."""
import struct
import sys


def file_version(data: bytes):
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


if __name__ == "__main__":
    with open(sys.argv[1], "rb") as f:
        print(file_version(f.read()) or "no version")
