#!/usr/bin/python3
"""The dialogs' values as the scripts and the README have them, against the sources.

tools/dialog.sh: every control id is the #define of that name in shell/resource.h
(IDCANCEL, IDYES, IDNO in the native stand-in's windows.h), every caption the CAPTION of
its program's resource script, the title of the server's question when another server
runs that of server/single.cpp. Its status texts are exactly the status texts the programs
can show: every string literal of client/control.cpp and server/control.cpp (the only
places that set the status line), no more, no less. The README's table under "When
something fails" has one row for each of them, spelt as the program shows it (a line
break as <br>, the empty status as "(blank)"), naming the program that shows it
("client", "server" or "both"); the seconds its rows give are those of the programs'
monitors (one tick a second) and of central's expiry. Exit code 1 with a line per
difference."""
import os
import re
import sys

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def read(*paths):
    return "".join(open(os.path.join(REPO, p), encoding="utf-8").read() for p in paths)


def shown_texts(program):
    """The string literals of a program's control dialog, outside comments and includes."""
    code = re.sub(r"//[^\n]*|^#include[^\n]*", "", read("%s/control.cpp" % program), flags=re.M)
    return set(re.findall(r'"((?:[^"\\]|\\.)*)"', code)) - {"%d"}


def readme_rows():
    """(text, program, meaning) for each row of the README's table of status texts."""
    readme = read("README.md")
    section = re.search(r"^#+ When something fails\n(.*?)(?=^#)", readme, re.M | re.S)
    rows = []
    for line in (section.group(1) if section else "").splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if not line.startswith("|") or len(cells) < 3 or cells[0] in ("Status", "---"):
            continue
        text = "" if cells[0] == "(blank)" else cells[0].replace("`", "").replace("<br>", "\\n")
        rows.append((text, cells[1], cells[2]))
    return rows


def constant(path, name):
    """The value of a numeric constant NAME = N in a source file."""
    found = re.search(r"\b%s\s*=\s*(\d+)" % name, read(path))
    return int(found.group(1)) if found else None


def figure_failures(rows):
    """The rows whose seconds differ from the sources'."""
    client = "client/control.cpp"
    server = "server/control.cpp"
    expiry = constant("central/handler.h", "expiryMs")
    words = "zero one two three four five six seven eight nine ten".split()
    minutes = words[expiry // 60000] if expiry and expiry % 60000 == 0 and expiry <= 600000 else None
    figures = [  # status text, what its row says, the sources' value
        ("START OPENVPN", r"up to (\d+) s on the client, (\d+) s on the server",
         [constant(client, "LOST_BEFORE_CONNECTED"), constant(server, "LOST_BEFORE_CONNECTED")]),
        ("TIMEOUT", r"within (\d+) s", [constant(client, "LOST_BEFORE_CONNECTED")]),
        ("TIME OUT", r"within (\d+) s", [constant(server, "LOST_BEFORE_CONNECTED")]),
        ("DISCONNECTED", r"silent for (\d+) s", [constant(client, "LOST_WHEN_CONNECTED")]),
        ("CONNECTION BROKEN", r"silent for (\d+) s", [constant(server, "LOST_WHEN_CONNECTED")]),
        ("", r"after (\d+) s", [constant(server, "LOST_WHEN_CONNECTED")]),
        ("CENTRAL TIMEOUT", r"every (\d+) s", [(constant(server, "CENTRAL_RETRY_PERIOD") or 0) // 1000]),
        ("NAME HAS BEEN USED", r"wait (\w+) minutes", [minutes]),
    ]
    meanings = {text: meaning for text, _, meaning in rows}
    failures = []
    for text, pattern, wanted in figures:
        found = re.search(pattern, meanings.get(text, ""))
        said = [int(g) if g.isdigit() else g for g in found.groups()] if found else None
        if said != wanted:
            failures.append("README: the row of \"%s\" says %s where the sources have %s" % (text, said, wanted))
    return failures


def main():
    values = dict(re.findall(r"^([A-Z_]+)=[\"']?(.*?)[\"']?$", read("tools/dialog.sh"), re.M))
    defines = dict(re.findall(r"^#define (\w+) \(?(-?\d+)\)?$",
                              read("shell/resource.h", "platform/native/windows.h"), re.M))
    shown = {p: shown_texts(p) for p in ("client", "server")}
    every_text = shown["client"] | shown["server"]
    failures = []
    texts = set()
    for name, value in values.items():
        if name.endswith("_BOX"):
            if '"%s"' % value not in read("server/single.cpp"):
                failures.append("tools/dialog.sh: %s=%s is not the question's title" % (name, value))
        elif name.endswith("_CAPTION"):
            rc = read("%s/%s.rc" % ((name[:-8].lower(),) * 2))
            if 'CAPTION "%s"' % value not in rc:
                failures.append("tools/dialog.sh: %s=%s is not the resource's caption" % (name, value))
        elif value.lstrip("-").isdigit():
            if defines.get(name) != value:
                failures.append("tools/dialog.sh: %s=%s is not the #define" % (name, value))
        else:
            texts.add(value)
    for text in sorted(texts - every_text):
        failures.append("tools/dialog.sh: \"%s\" is no status text of the programs" % text)
    for text in sorted(every_text - texts):
        failures.append("tools/dialog.sh lacks the status text \"%s\"" % text)

    rows = readme_rows()
    for text, program, _ in rows:
        wanted = "both" if text in shown["client"] and text in shown["server"] else \
            "client" if text in shown["client"] else "server" if text in shown["server"] else None
        if wanted is None:
            failures.append("README: \"%s\" is no status text of the programs" % text)
        elif program != wanted:
            failures.append("README: \"%s\" is shown by %s, not %s" % (text, wanted, program))
    for text in sorted(every_text - {t for t, _, _ in rows}):
        failures.append("README's table lacks the status text \"%s\"" % text)
    for text in sorted({t for t, _, _ in rows if [r for r, _, _ in rows].count(t) > 1}):
        failures.append("README: \"%s\" has more than one row" % text)
    failures += figure_failures(rows)

    print("\n".join(failures) or "tools/dialog.sh and the README: %d status texts as in the sources"
          % len(every_text))
    return 1 if failures or len(every_text) < 15 else 0


if __name__ == "__main__":
    sys.exit(main())
