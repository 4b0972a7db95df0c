#!/usr/bin/env python3
"""Prints the heartbeats recorded by tools/management_server.py, one short block each.

The management-server simulator appends every request it receives to a JSON-lines record
file. This reads that file (and, with --follow, keeps reading as it grows) and prints what
each heartbeat says: which agent sent it, the device's values, the statistics and the alarm
transitions. It knows nothing of a particular template: every non-empty leaf element of the
heartbeat is shown, elements with an "id" and a "status" attribute as alarms, elements with
an "id" only as statistics, and elements with an "index" (a table's rows) one line each.

Usage: show_heartbeats.py RECORD [--follow] [--agent-ip ADDRESS]
"""

import argparse
import json
import sys
import time
import xml.etree.ElementTree as ET

SKIPPED = {"heartbeat-counter", "agent-mac-address", "ip-address"}


def leaves(element, prefix=""):
    for child in element:
        if "index" in child.attrib:  # a table row: shown as one leaf of its own
            yield f"{prefix}{child.tag}", child
        elif len(child):
            yield from leaves(child, f"{prefix}{child.tag}/")
        else:
            yield f"{prefix}{child.tag}", child


def describe(entry, agent_ip):
    body = entry.get("body", "")
    try:
        root = ET.fromstring(body)
    except ET.ParseError as e:
        first = body.strip().splitlines()[0] if body.strip() else "(empty body)"
        return f"#{entry.get('number')}: not XML ({e}): {first}"

    address = (root.findtext(".//ip-address") or "?").strip()
    counter = (root.findtext(".//heartbeat-counter") or "").strip()
    kind = "status" if address == agent_ip else "device"
    values, statistics, alarms, rows = [], [], [], []
    for name, element in leaves(root):
        text = (element.text or "").strip()
        if "index" in element.attrib:
            cells = [f"{cell.tag}={cell.text.strip()}" for cell in element
                     if cell.text and cell.text.strip()]
            rows.append(f"{element.tag} {element.get('index')}: " + "  ".join(cells))
        elif "id" in element.attrib and "status" in element.attrib:
            value = element.get("value", "")
            alarms.append(f"ALARM {element.get('id')} {element.get('status').upper()}"
                          + (f" (value {value})" if value else "")
                          + (f" {text}" if text else ""))
        elif "id" in element.attrib:
            statistics.append(f"stat {element.get('id')} = {text}")
        elif text and name.split("/")[-1] not in SKIPPED:
            values.append(f"{name.split('/')[-1]}={text}")

    now = time.strftime("%H:%M:%S")
    head = f"[{now}] {kind:6} {address:15} heartbeat {counter or '?'}"
    lines = [head + ("  " + "  ".join(values) if values else "")]
    lines += [f"{'':27}{line}" for line in rows + statistics + alarms]
    return "\n".join(lines)


def read_entries(path, follow):
    position = 0
    pending = ""
    while True:
        try:
            with open(path, encoding="utf-8") as f:
                f.seek(position)
                chunk = f.read()
                position = f.tell()
        except FileNotFoundError:
            chunk = ""
        pending += chunk
        *complete, pending = pending.split("\n")
        for line in complete:
            if line.strip():
                try:
                    yield json.loads(line)
                except ValueError:
                    continue
        if not follow:
            return
        time.sleep(0.5)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("record", help="JSON-lines record file of the simulator")
    parser.add_argument("--follow", action="store_true", help="keep reading as it grows")
    parser.add_argument("--agent-ip", default="127.0.0.1",
                        help="the agent's own address, which marks status heartbeats")
    args = parser.parse_args()
    try:
        for entry in read_entries(args.record, args.follow):
            print(describe(entry, args.agent_ip), flush=True)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
