#!/usr/bin/python3
"""Compares the controls of a running dialog with their template.

Usage: compare-controls.py DIALOG_WIDTH DIALOG_HEIGHT LISTING EXPECTED

LISTING is the output of "driver controls": "client W H" (pixels), then one line
per control "ID CLASS X Y W H STYLE TEXT" in pixels of the client area.
EXPECTED has one line per control, in order: "ID CLASS X Y W H TEXT" in dialog
units; "-" for W and H skips the size, "*" as TEXT skips the text.

The dialog's base units follow from its client size and its size in dialog
units (4 per horizontal and 8 per vertical base unit); each control must then sit where the template puts it (within a pixel).
"""
import sys


def pixels(units, base, per_base):
    """Dialog units to pixels, rounded as MulDiv(units, base, per_base)."""
    return (units * base + per_base // 2) // per_base


def main():
    width, height = int(sys.argv[1]), int(sys.argv[2])
    listing = [line.rstrip("\r\n") for line in open(sys.argv[3])]
    expected = [line.rstrip("\n") for line in open(sys.argv[4]) if line.strip()]
    _, client_width, client_height = listing[0].split()
    base_x = round(int(client_width) * 4 / width)
    base_y = round(int(client_height) * 8 / height)
    failures = 0
    controls = [line.split(" ", 7) for line in listing[1:]]
    if len(controls) != len(expected):
        print(f"FAIL {len(controls)} controls, wanted {len(expected)}")
        failures += 1
    for found, wanted in zip(controls, expected):
        wanted = wanted.split(" ", 6) + [""] * (7 - len(wanted.split(" ", 6)))
        ident, kind, place, text = found[0], found[1], [int(v) for v in found[2:6]], found[7]
        want_place = [pixels(int(wanted[2]), base_x, 4), pixels(int(wanted[3]), base_y, 8)]
        if wanted[4] != "-":
            want_place += [pixels(int(wanted[4]), base_x, 4), pixels(int(wanted[5]), base_y, 8)]
        problems = []
        if (ident, kind.lower()) != (wanted[0], wanted[1].lower()):
            problems.append(f"id and class {ident} {kind}")
        if any(abs(a - b) > 1 for a, b in zip(place, want_place)):
            problems.append(f"place {place[:len(want_place)]}, wanted {want_place}")
        if wanted[6] != "*" and text != wanted[6]:
            problems.append(f"text {text!r}, wanted {wanted[6]!r}")
        if problems:
            print(f"FAIL control {wanted[0]}: " + "; ".join(problems))
            failures += 1
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
