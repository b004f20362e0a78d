#!/usr/bin/python3
"""Prints the comparison's table from its trials.tsv.

  table.py TRIALS_TSV TRIALS TIMEOUT

One row per pair of NAT profiles, one column per system: successful trials out of
all, and the median / worst time of the successful ones, in seconds from the start of
the attempt until datagrams had crossed the tunnel both ways (for the rows that need
a direct path: both ways straight between the homes). Notes in brackets:
"r" trials that got through only by way of the rendezvous node (not counted as
successes where a direct path is wanted; counted, and marked, in the columns of the
systems that relay: ours, through central, and nebula-relay).
"""
import csv
import statistics
import sys

SYSTEMS = [
    ("ours", "ours: programs, relay"),
    ("ours-scripted", "ours, scripted stand-in"),
    ("nebula", "nebula"),
    ("nebula-relay", "nebula, lighthouse relays"),
    ("tinc", "tinc"),
]
# The systems whose trials succeed through either path; a relayed one is marked.
RELAYING = ("ours", "nebula-relay")
# What each system's own fixed waits add to a first attempt that gets through, as far
# as their timers are known (the first punch round works, no packet is lost).
FIXED_WAITS = {
    "ours": "2.0-3.0 s: client 1 s for the peer address + 1 s after its first burst;"
            " server: its next 1 s tick after central's request (0-1 s) + 1 s after its"
            " first burst, then it starts OpenVPN; OpenVPN's handshake has no timer on"
            " a clean path, but a first packet that finds no listener yet is sent again"
            " 2 s later (tls-timeout); the dialogs' CONNECTED texts wait for the 1 s"
            " liveness probe on top; where no punch gets through, central offers its relay"
            " 2.5 s after the query (--relay-after), which a side takes at its next 1 s"
            " look (the client 3 s after its query), and OpenVPN starts through it",
    "ours-scripted": "as ours (the same timers, scripted), without Wine and the dialogs",
    "nebula": "none on a first round that works: handshakes retried 100 ms, 200 ms, ...;"
              " punch-back (respond) after 1 s",
    "nebula-relay": "as nebula; the relay is asked for at once, beside the direct"
                    " handshake",
    "tinc": "not documented: meta connection through the public node, then UDP probes"
            " towards the peer's address",
}


def cell(rows, system, trials):
    mine = [r for r in rows if r["system"] == system]
    if not mine:
        return "-"
    ok = [r for r in mine if r["ok"] == "1"]
    times = sorted(float(r["t_required"]) for r in ok)
    text = "%d/%d" % (len(ok), len(mine))
    if times:
        text += " %.1f/%.1f" % (statistics.median(times), times[-1])
    if system in RELAYING:
        relayed = sum(1 for r in ok if r["path"] != "direct")
        if relayed:
            text += " r%d" % relayed
    else:
        relayed = sum(1 for r in mine if r["ok"] != "1" and r["path"] == "relayed")
        if relayed:
            text += " r%d" % relayed
    return text


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[0]) as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    systems = [s for s in SYSTEMS if any(r["system"] == s[0] for r in rows)]
    pairs = []
    for r in rows:
        if (r["server_profile"], r["client_profile"]) not in pairs:
            pairs.append((r["server_profile"], r["client_profile"]))
    print("NAT traversal compared: %s trial(s) per pair and system, timeout %s s."
          % (argv[1], argv[2]))
    print("Cells: successes/trials median/worst seconds from the start of the attempt until")
    print("datagrams crossed the tunnel both ways (straight between the homes, except in the")
    print("columns of the systems that relay: %s); rN: N trials got through only by way of"
          % ", ".join(RELAYING))
    print("the rendezvous node.")
    print()
    widths = [max(23, len(name) + 1) for _, name in systems]
    head = "%-21s %-21s" % ("server router", "client router")
    for (_, name), w in zip(systems, widths):
        head += " | %-*s" % (w, name)
    print(head)
    print("-" * len(head))
    for sp, cp in pairs:
        line = "%-21s %-21s" % (sp, cp)
        sel = [r for r in rows if (r["server_profile"], r["client_profile"]) == (sp, cp)]
        for (system, _), w in zip(systems, widths):
            line += " | %-*s" % (w, cell(sel, system, argv[1]))
        print(line)
    connected = sorted(float(r["detail"].split("connected=", 1)[1].split()[0])
                       for r in rows if r["system"] == "ours" and r["ok"] == "1"
                       and "connected=" in r["detail"]
                       and not r["detail"].split("connected=", 1)[1].startswith("-"))
    if connected:
        print()
        print("ours, the programs' own view: both dialogs showed CONNECTED (liveness probes")
        print("answered) %.1f s median, %.1f s worst after the click, in %d successful trial(s)."
              % (statistics.median(connected), connected[-1], len(connected)))
    print()
    print("Fixed waits of each system:")
    for system, name in systems:
        print("  %s: %s" % (name, FIXED_WAITS[system]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
