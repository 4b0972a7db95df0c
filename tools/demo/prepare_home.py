#!/usr/bin/env python3
"""Lays out a throw-away installation home for scripts/demo.

Copies the sample heartbeat template and mappings from etc/ unchanged, writes a devices
file for the simulated devices, and writes a configuration derived from
etc/configuration.xml whose paths all point into the home, whose server is the local
simulator and whose log goes to the home's log folder. The repository's etc/ files are
only read.

Usage: prepare_home.py --source REPO --home DIR --server-url URL --port PORT
                       --interval SECONDS ADDRESS...
"""

import argparse
import os
import re
import shutil
import sys
import xml.etree.ElementTree as ET

# Mappings that suit an snmpd host, in order of preference; the first one that the sample
# mappings file has is used for each device in turn.
PREFERRED = ["if-table", "mib2-system", "net-snmp-host"]


def child(parent, path):
    """The element at path below parent, created when missing."""
    node = parent
    for name in path.split("/"):
        found = node.find(name)
        if found is None:
            found = ET.SubElement(node, name)
        node = found
    return node


def choose_mappings(mappings_file):
    names = [m.findtext("name") for m in ET.parse(mappings_file).getroot()]
    names = [n for n in names if n]
    chosen = [n for n in PREFERRED if n in names] or names[:1]
    if not chosen:
        sys.exit(f"{mappings_file} has no mapping")
    return chosen


def write_devices(path, addresses, port, mappings, interval, v3_user):
    """v3_user: (address, name, auth passphrase, privacy passphrase) of the one device
    polled with SNMPv3 authPriv (SHA and AES), or None."""
    root = ET.Element("devices")
    for number, address in enumerate(addresses):
        device = ET.SubElement(root, "device")
        ET.SubElement(device, "ip-address").text = address
        if port != 161:
            ET.SubElement(device, "udp-port").text = str(port)
        secure = v3_user is not None and v3_user[0] == address
        ET.SubElement(device, "snmp-version").text = "v3" if secure else "v2c"
        ET.SubElement(device, "community").text = "public"
        ET.SubElement(device, "mapping-name").text = mappings[number % len(mappings)]
        ET.SubElement(device, "heartbeat-interval").text = str(interval)
        if secure:
            for element, text in zip(("security-name", "auth-passphrase", "privacy-passphrase"),
                                     v3_user[1:]):
                ET.SubElement(device, element).text = text
    ET.indent(root, "  ")
    ET.ElementTree(root).write(path, encoding="utf-8", xml_declaration=True)


def write_configuration(sample, path, home, server_url, interval):
    # Comments are dropped first: the copy needs none, and a strict parser refuses a "--"
    # inside one, which the agent's own reader tolerates.
    with open(sample, encoding="utf-8") as f:
        text = re.sub(r"<!--.*?-->", "", f.read(), flags=re.S)
    root = ET.fromstring(text.encode("utf-8"))
    tree = ET.ElementTree(root)
    settings = {
        "logging/file": f"{home}/log/tamro.log",
        "logging/level": "info",
        "logging/console": "false",
        "logging/rotate": "false",
        "agent/heartbeat-template": f"{home}/config/heartbeat.xml",
        "agent/server-uri": server_url,
        "snmp/mib-directory": f"{home}/snmp/mibs",
        "snmp/persistent-directory": f"{home}/snmp/persist",
        "mappings-file": f"{home}/config/mappings.xml",
        "devices-file": f"{home}/config/devices.xml",
        "reporting/ip-address": "127.0.0.1",
        "reporting/heartbeat-interval": str(interval),
    }
    for key, value in settings.items():
        child(root, key).text = value
    if root.find("reporting/mac-address") is None:
        child(root, "reporting/mac-address").text = "00:1A:2B:3C:4D:5E"
    if root.find("reporting/name") is None:
        child(root, "reporting/name").text = "Tamro demo"
    ET.indent(root, "  ")
    tree.write(path, encoding="utf-8", xml_declaration=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--source", required=True, help="repository root")
    parser.add_argument("--home", required=True)
    parser.add_argument("--server-url", required=True)
    parser.add_argument("--port", type=int, default=161, help="UDP port of the devices")
    parser.add_argument("--interval", type=int, default=30)
    parser.add_argument("--v3-user", nargs=4,
                        metavar=("ADDRESS", "NAME", "AUTH_PASSPHRASE", "PRIVACY_PASSPHRASE"),
                        help="poll the device at ADDRESS with SNMPv3 authPriv as this user")
    parser.add_argument("addresses", nargs="+")
    args = parser.parse_args()

    home = os.path.abspath(args.home)
    for folder in ("config", "log", "snmp/mibs", "snmp/persist"):
        os.makedirs(f"{home}/{folder}", exist_ok=True)
    etc = f"{args.source}/etc"
    shutil.copyfile(f"{etc}/heartbeat.xml", f"{home}/config/heartbeat.xml")
    shutil.copyfile(f"{etc}/mappings.xml", f"{home}/config/mappings.xml")
    mappings = choose_mappings(f"{home}/config/mappings.xml")
    write_devices(f"{home}/config/devices.xml", args.addresses, args.port, mappings,
                  args.interval, args.v3_user)
    write_configuration(f"{etc}/configuration.xml", f"{home}/config/configuration.xml", home,
                        args.server_url, args.interval)
    print(f"{home}/config/configuration.xml")
    return 0


if __name__ == "__main__":
    sys.exit(main())
