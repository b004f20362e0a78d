#!/usr/bin/python3
"""Checks the resources of a built client.exe or server.exe from the PE file.

Usage: check-resources.py EXE client|server

Checks the control dialog and the About box (classic templates, styles, places,
sizes, texts, fonts), the menu, the accelerators (character codes with Alt),
the string table, the icons (sizes, 16 colours), the manifest asking for
administrator rights, the language of every resource and that no other
resource is there. Prints one line per failed check and exits 1 if any failed.
"""
import struct
import sys

import pefile

ENGLISH_US = 1033
RT_ICON, RT_MENU, RT_DIALOG, RT_STRING, RT_ACCELERATOR, RT_GROUP_ICON, RT_MANIFEST = 3, 4, 5, 6, 9, 14, 24

WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_BORDER, WS_SYSMENU = 0x00C00000, 0x00800000, 0x00080000
WS_GROUP, WS_TABSTOP, WS_MINIMIZEBOX = 0x00020000, 0x00010000, 0x00020000
DS_SYSMODAL, DS_MODALFRAME, DS_SETFONT = 0x02, 0x80, 0x40
BS_PUSHBUTTON, BS_DEFPUSHBUTTON = 0, 1
ES_LEFT, ES_AUTOHSCROLL = 0, 0x80
SS_LEFT, SS_CENTER, SS_ICON, SS_NOPREFIX = 0, 1, 3, 0x80
BUTTON, EDIT, STATIC = 0x80, 0x81, 0x82
FALT, FVIRTKEY, LAST_ENTRY = 0x10, 0x01, 0x80
MF_POPUP, MF_END = 0x10, 0x80

CHILD = WS_CHILD | WS_VISIBLE
BUTTON_STYLE = CHILD | WS_TABSTOP
EDIT_STYLE = CHILD | ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP
LABEL_STYLE = CHILD | SS_LEFT | WS_GROUP


def control_dialog(program):
    status = (56, 102, 134, 15) if program == "client" else (56, 102, 125, 16)
    heartbeat = (240, 128, 13, 9) if program == "client" else (240, 130, 14, 8)
    return {
        "style": WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_SYSMODAL | DS_SETFONT,
        "place": (0, 0, 261, 145),
        "caption": "VPN CLIENT" if program == "client" else "VPN SERVER",
        "font": (8, "MS Sans Serif"),
        "controls": [
            (1000, BUTTON, "Connect", BUTTON_STYLE | BS_DEFPUSHBUTTON, (204, 7, 50, 14)),
            (1001, BUTTON, "Disconnect", BUTTON_STYLE | BS_PUSHBUTTON, (204, 28, 50, 14)),
            (2, BUTTON, "Cancel", BUTTON_STYLE | BS_PUSHBUTTON, (204, 53, 50, 14)),
            (-1, STATIC, "Name", LABEL_STYLE, (32, 32, 20, 10)),
            (1003, EDIT, "", EDIT_STYLE, (57, 31, 88, 12)),
            (-1, STATIC, "Password", LABEL_STYLE, (21, 56, 33, 10)),
            (1004, EDIT, "", EDIT_STYLE, (57, 55, 87, 12)),
            (1005, STATIC, "Static", CHILD | SS_CENTER | WS_GROUP, status),
            (1006, STATIC, "", LABEL_STYLE, heartbeat),
        ],
    }


ANY_LINE = object()  # the maker's notice: any text of one line


def about_box(program):
    version = "CLIENT Version 1.0" if program == "client" else "server Version 1.0"
    return {
        "style": WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
        "place": (22, 17, 230, 75),
        "caption": "About",
        "font": (8, "System"),
        "controls": [
            (2, STATIC, 107, CHILD | SS_ICON, (14, 9, 16, 16)),
            (-1, STATIC, version, LABEL_STYLE | SS_NOPREFIX, (49, 10, 119, 8)),
            (-1, STATIC, ANY_LINE, LABEL_STYLE, (49, 20, 119, 8)),
            (1, BUTTON, "OK", BUTTON_STYLE | BS_DEFPUSHBUTTON | WS_GROUP, (195, 6, 30, 11)),
        ],
    }


class Reader:
    """Reads the words, numbers and texts of a resource in order."""

    def __init__(self, data):
        self.data, self.at = data, 0

    def unpack(self, layout):
        values = struct.unpack_from("<" + layout, self.data, self.at)
        self.at += struct.calcsize("<" + layout)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return value

    def name(self):
        """A number (0xFFFF and a word), nothing (0) or a text."""
        if self.unpack("H") == 0xFFFF:
            return self.unpack("H")
        self.at -= 2
        return self.text() or None

    def align(self):
        self.at += -self.at % 4


class Check:
    def __init__(self, exe):
        self.failures = 0
        self.pe = pefile.PE(exe)
        self.resources = {}
        for kind in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            for entry in kind.directory.entries:
                for language in entry.directory.entries:
                    data = self.pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                    self.resources[(kind.id, entry.id)] = (language.id, data)

    def expect(self, what, found, wanted):
        if found != wanted:
            print(f"FAIL {what}: found {found!r}, wanted {wanted!r}")
            self.failures += 1

    def data(self, kind, ident):
        language, data = self.resources.get((kind, ident), (None, b""))
        self.expect(f"language of resource {kind}/{ident}", language, ENGLISH_US)
        return data


def check_dialog(check, ident, wanted):
    read = Reader(check.data(RT_DIALOG, ident))
    style, extended, count, x, y, cx, cy = read.unpack("IIHhhhh")
    check.expect(f"dialog {ident} is a classic template", (style & 0xFFFF, style >> 16) != (1, 0xFFFF), True)
    check.expect(f"dialog {ident} style", hex(style), hex(wanted["style"]))
    check.expect(f"dialog {ident} extended style", extended, 0)
    check.expect(f"dialog {ident} place and size", (x, y, cx, cy), wanted["place"])
    check.expect(f"dialog {ident} menu and class", (read.name(), read.name()), (None, None))
    check.expect(f"dialog {ident} caption", read.text(), wanted["caption"])
    check.expect(f"dialog {ident} font", (read.unpack("H"), read.text()), wanted["font"])
    controls = []
    for _ in range(count):
        read.align()
        style, extended, x, y, cx, cy, control = read.unpack("IIhhhhh")
        kind, title = read.name(), read.name()
        creation = read.unpack("H")  # size of the creation data, its own word included
        read.at += max(creation - 2, 0)
        controls.append((control, kind, title if title is not None else "", style, (x, y, cx, cy)))
        check.expect(f"dialog {ident} control {control} extended style", extended, 0)
    check.expect(f"dialog {ident} number of controls", len(controls), len(wanted["controls"]))
    for found, expected in zip(controls, wanted["controls"]):
        if expected[2] is ANY_LINE and isinstance(found[2], str) and found[2] and "\n" not in found[2]:
            expected = (expected[0], expected[1], found[2]) + expected[3:]
        found = (found[0], found[1], found[2], hex(found[3]), found[4])
        expected = (expected[0], expected[1], expected[2], hex(expected[3]), expected[4])
        check.expect(f"dialog {ident} control {expected[0]} (id, class, text, style, place)", found, expected)


def check_menu(check):
    read = Reader(check.data(RT_MENU, 109))
    check.expect("menu 109 header (classic menu)", read.unpack("HH"), (0, 0))
    menu = []
    while True:
        flags = read.unpack("H")
        title = read.text()
        items = []
        while True:
            item_flags, command = read.unpack("HH")
            items.append((read.text(), command))
            if item_flags & MF_END:
                break
        menu.append((title, flags & MF_POPUP != 0, items))
        if flags & MF_END:
            break
    check.expect("menu 109", menu, [("&File", True, [("E&xit", 105)]), ("&Help", True, [("&About ...", 104)])])


def check_accelerators(check):
    data = check.data(RT_ACCELERATOR, 109)
    entries = [struct.unpack_from("<HHHH", data, at)[:3] for at in range(0, len(data), 8)]
    check.expect("accelerators 109: character codes with Alt, end mark on the last",
                 entries, [(FALT, ord("?"), 104), (FALT | LAST_ENTRY, ord("/"), 104)])


def check_strings(check, program):
    strings = {}
    for (kind, block), (language, data) in check.resources.items():
        if kind != RT_STRING:
            continue
        check.expect(f"language of string block {block}", language, ENGLISH_US)
        read = Reader(data)
        for index in range(16):
            length = read.unpack("H")
            text = read.data[read.at:read.at + 2 * length].decode("utf-16-le")
            read.at += 2 * length
            if length:
                strings[(block - 1) * 16 + index] = text
    title = "CLIENT" if program == "client" else "server"
    class_name = "CLIENT" if program == "client" else "SERVER"
    check.expect("string table", strings, {103: title, 106: "Hello World!", 109: class_name})


def check_icons(check):
    """Checks both icon groups and their images; returns the ids of the images."""
    groups = {}
    idents = []
    for group, sizes in ((107, [32, 16]), (108, [16])):
        read = Reader(check.data(RT_GROUP_ICON, group))
        _, kind, count = read.unpack("HHH")
        check.expect(f"icon {group} type and count", (kind, count), (1, len(sizes)))
        images = []
        for _ in range(count):
            width, height, colours, _, planes, bits, _, ident = read.unpack("BBBBHHIH")
            images.append(((width, height, colours, planes, bits), ident))
        check.expect(f"icon {group} directory (size, colours, planes, bits)",
                     [image for image, _ in images], [(s, s, 16, 1, 4) for s in sizes])
        groups[group] = []
        for (entry, ident) in images:
            idents.append(ident)
            data = check.data(RT_ICON, ident)
            header = struct.unpack_from("<IiiHH", data)
            check.expect(f"icon {group} image {ident} bitmap header (width, height, planes, bits)",
                         header[1:], (entry[0], 2 * entry[0], 1, 4))
            groups[group].append((entry[0], data))
    if len(groups[107]) == 2 and len(groups[108]) == 1:
        check.expect("icon 108 differs from the small image of 107", groups[108][0][1] != groups[107][1][1], True)
    return idents


def check_manifest(check):
    manifest = check.data(RT_MANIFEST, 1).decode("utf-8", "replace")
    check.expect("manifest asks for administrator rights",
                 'requestedExecutionLevel level="requireAdministrator"' in manifest, True)


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in ("client", "server"):
        sys.exit("usage: check-resources.py EXE client|server")
    check = Check(sys.argv[1])
    program = sys.argv[2]
    check.expect("subsystem (windowed program)", check.pe.OPTIONAL_HEADER.Subsystem, 2)
    check_dialog(check, 129, control_dialog(program))
    check_dialog(check, 103, about_box(program))
    check_menu(check)
    check_accelerators(check)
    check_strings(check, program)
    images = check_icons(check)
    check_manifest(check)
    check.expect("resources present, and nothing else",
                 sorted(check.resources),
                 sorted([(RT_DIALOG, 129), (RT_DIALOG, 103), (RT_MENU, 109), (RT_ACCELERATOR, 109),
                         (RT_STRING, 7), (RT_GROUP_ICON, 107), (RT_GROUP_ICON, 108), (RT_MANIFEST, 1)]
                        + [(RT_ICON, ident) for ident in images]))
    print(f"{program}: " + (f"{check.failures} resource checks failed" if check.failures
                            else "all resource checks passed"))
    sys.exit(1 if check.failures else 0)


if __name__ == "__main__":
    main()
