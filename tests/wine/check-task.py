#!/usr/bin/python3
"""Checks the definition of the task that starts the server when Windows starts, as
the server's installer wrote it for schtasks /Create /XML: UTF-16LE with a byte-order
mark; at boot after a short delay, and again every few minutes for as long as
Windows runs (a repetition without end or duration, its interval within the
schema's PT1M to P31D, the boot trigger's elements in the schema's order: Enabled,
Repetition, Delay); as SYSTEM with the highest privileges; no time limit; restarted
on failure; not stopped on battery; one at a time, so that the repetition starts
nothing while the server runs; server.exe /auto in the install folder, which may
hold blanks and "&".
Usage: check-task.py TASK_XML INSTALL_FOLDER"""
import re
import sys
import xml.etree.ElementTree as ET

NS = {"t": "http://schemas.microsoft.com/windows/2004/02/mit/task"}


def main():
    path, folder = sys.argv[1], sys.argv[2]
    raw = open(path, "rb").read()
    if not raw.startswith(b"\xff\xfe"):
        return "not UTF-16LE with a byte-order mark: %r" % raw[:8]
    task = ET.fromstring(raw[2:].decode("utf-16-le").encode("utf-8").replace(
        b'encoding="UTF-16"', b'encoding="UTF-8"'))
    text = lambda where: (task.findtext(where, namespaces=NS) or "").strip()
    wanted = {
        "t:Triggers/t:BootTrigger/t:Enabled": "true",
        "t:Triggers/t:BootTrigger/t:Repetition/t:StopAtDurationEnd": "false",
        "t:Triggers/t:BootTrigger/t:Repetition/t:Duration": "",
        "t:Principals/t:Principal/t:UserId": "S-1-5-18",
        "t:Principals/t:Principal/t:RunLevel": "HighestAvailable",
        "t:Settings/t:ExecutionTimeLimit": "PT0S",
        "t:Settings/t:DisallowStartIfOnBatteries": "false",
        "t:Settings/t:StopIfGoingOnBatteries": "false",
        "t:Settings/t:MultipleInstancesPolicy": "IgnoreNew",
        "t:Actions/t:Exec/t:Command": '"%s\\server.exe"' % folder,
        "t:Actions/t:Exec/t:Arguments": "/auto",
        "t:Actions/t:Exec/t:WorkingDirectory": folder,
    }
    wrong = ["%s is %r, wanted %r" % (k, text(k), v) for k, v in wanted.items() if text(k) != v]
    delay = re.fullmatch(r"PT(\d+)S", text("t:Triggers/t:BootTrigger/t:Delay"))
    if not delay or not 0 < int(delay.group(1)) <= 120:
        wrong.append("the boot trigger's delay is %r" % text("t:Triggers/t:BootTrigger/t:Delay"))
    order = [child.tag.split("}")[1] for child in task.find("t:Triggers/t:BootTrigger", NS)]
    if order != ["Enabled", "Repetition", "Delay"]:
        wrong.append("the boot trigger's elements are %s, not in the schema's order" % order)
    interval = re.fullmatch(r"PT(\d+)M", text("t:Triggers/t:BootTrigger/t:Repetition/t:Interval"))
    if not interval or not 1 <= int(interval.group(1)) <= 10:
        wrong.append("the repetition's interval is %r, wanted 1 to 10 minutes" %
                     text("t:Triggers/t:BootTrigger/t:Repetition/t:Interval"))
    if not text("t:Settings/t:RestartOnFailure/t:Interval") or \
            int(text("t:Settings/t:RestartOnFailure/t:Count") or 0) < 1:
        wrong.append("no restart on failure")
    return "\n".join(wrong) or None


if __name__ == "__main__":
    sys.exit(main())
