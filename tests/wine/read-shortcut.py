#!/usr/bin/python3
"""Prints what a Windows shortcut (.lnk) starts, one field a line:
target=PATH (the local path of its link information), workdir=DIR, arguments=TEXT."""
import struct
import sys

HAS_ID_LIST, HAS_LINK_INFO = 0x01, 0x02
STRINGS = [(0x04, "name"), (0x08, "relative"), (0x10, "workdir"), (0x20, "arguments"), (0x40, "icon")]
IS_UNICODE = 0x80


def read_shortcut(data):
    if struct.unpack_from("<I", data, 0)[0] != 0x4C:
        raise ValueError("not a shortcut")
    flags = struct.unpack_from("<I", data, 20)[0]
    at = 0x4C
    if flags & HAS_ID_LIST:
        at += 2 + struct.unpack_from("<H", data, at)[0]
    fields = {"target": "", "workdir": "", "arguments": ""}
    if flags & HAS_LINK_INFO:
        size = struct.unpack_from("<I", data, at)[0]
        base = struct.unpack_from("<I", data, at + 16)[0]
        fields["target"] = data[at + base:data.index(b"\0", at + base)].decode("latin-1")
        at += size
    for flag, name in STRINGS:
        if not flags & flag:
            continue
        count = struct.unpack_from("<H", data, at)[0]
        width = 2 if flags & IS_UNICODE else 1
        text = data[at + 2:at + 2 + count * width]
        # Wine counts the terminating NUL as a character of the string.
        fields[name] = text.decode("utf-16-le" if width == 2 else "latin-1").rstrip("\0")
        at += 2 + count * width
    return fields


if __name__ == "__main__":
    with open(sys.argv[1], "rb") as f:
        fields = read_shortcut(f.read())
    for key in ("target", "workdir", "arguments"):
        print(f"{key}={fields[key]}")
