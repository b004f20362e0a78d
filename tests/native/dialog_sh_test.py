#!/usr/bin/python3
"""tools/dialog.sh against the sources: every control id is the #define of that name in
shell/resource.h (IDCANCEL in the native stand-in's windows.h), every caption the
CAPTION of its program's resource script, and every status text a string literal of
client/, server/ or monitor/. Exit code 1 with a line per difference."""
import glob
import os
import re
import sys

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def read(*paths):
    return "".join(open(os.path.join(REPO, p), encoding="utf-8").read() for p in paths)


def main():
    values = dict(re.findall(r"^([A-Z_]+)=[\"']?(.*?)[\"']?$",
                             read("tools/dialog.sh"), re.M))
    defines = dict(re.findall(r"^#define (\w+) \(?(-?\d+)\)?$",
                              read("shell/resource.h", "platform/native/windows.h"), re.M))
    sources = read(*[os.path.relpath(p, REPO) for d in ("client", "server", "monitor")
                     for p in glob.glob(os.path.join(REPO, d, "*.cpp"))])
    failures = []
    for name, value in values.items():
        if name.endswith("_CAPTION"):
            rc = read("%s/%s.rc" % ((name[:-8].lower(),) * 2))
            ok = 'CAPTION "%s"' % value in rc
        elif value.lstrip("-").isdigit():
            ok = defines.get(name) == value
        else:
            ok = '"%s"' % value in sources
        if not ok:
            failures.append("tools/dialog.sh: %s=%s is not in the sources" % (name, value))
    print("\n".join(failures) or "tools/dialog.sh: %d values as in the sources" % len(values))
    return 1 if failures or len(values) < 20 else 0


if __name__ == "__main__":
    sys.exit(main())
