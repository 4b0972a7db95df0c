#!/usr/bin/env bash
# Runs scripts/demo headless for 40 seconds on the built tree and checks, from the
# simulator's record of every request, that the demonstration does what it shows: status
# heartbeats, a heartbeat from each of the five simulated devices, the statistic the server
# asked for, and alarm transitions on the changing value.
#
# Usage: demo_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail

build=$1
source=$2

for tool in snmpd snmpget python3; do
  if ! command -v "$tool" >/dev/null && [ ! -x "/usr/sbin/$tool" ]; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done
if [ ! -x "$build/tamro" ]; then
  echo "FAIL: $build/tamro is not built"
  exit 1
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tamro-demo-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
record=$scratch/heartbeats.jsonl

# The demo stops everything it started by itself; timeout only guards against a hang.
PATH=$PATH:/usr/sbin TAMRO_BINARY=$build/tamro \
  timeout --kill-after=10 150 "$source/scripts/demo" --for 40 --no-build \
  --dir "$scratch/demo" --record "$record" >"$scratch/demo.out" 2>&1
status=$?
cat "$scratch/demo.out"
if [ $status -ne 0 ]; then
  echo "FAIL: scripts/demo exited with $status"
  tail -n 30 "$scratch/demo/home/log/tamro.log" 2>/dev/null
  exit 1
fi

python3 - "$record" <<'PY'
import json, sys, xml.etree.ElementTree as ET

devices = {f"127.1.0.{n}" for n in range(1, 6)}
entries = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8") if line.strip()]
problems = []
status, seen, stats, alarms = 0, set(), 0, []
for entry in entries:
    if entry["method"] != "POST":
        problems.append(f"request {entry['number']} is a {entry['method']}")
    try:
        body = ET.fromstring(entry["body"])
    except ET.ParseError as e:
        problems.append(f"heartbeat {entry['number']} is not XML: {e}")
        continue
    address = (body.findtext(".//ip-address") or "").strip()
    if address == "127.0.0.1":
        status += 1
        if not (body.findtext(".//firmware-revision") or "").startswith("TAMRO v"):
            problems.append("a status heartbeat without the version text")
    elif address in devices:
        seen.add(address)
        if not (body.findtext(".//sys-name") or "").startswith("demo-device-"):
            problems.append(f"heartbeat from {address} without its sysName")
        stats += sum(1 for e in body.iter() if e.get("id") == "load" and (e.text or "").strip())
        alarms += [(address, e.get("status")) for e in body.iter()
                   if e.get("id") == "temperature-high"]
    else:
        problems.append(f"heartbeat from an unexpected address {address!r}")

print(f"{len(entries)} heartbeats: {status} status, devices {sorted(seen)}, "
      f"{stats} statistics, alarms {alarms}")
if status < 1:
    problems.append("no status heartbeat")
if seen != devices:
    problems.append(f"no heartbeat from {sorted(devices - seen)}")
if stats < 1:
    problems.append("no heartbeat carried the requested statistic")
if not any(state == "active" for _, state in alarms):
    problems.append("no alarm went active")
for problem in problems:
    print("FAIL:", problem)
sys.exit(1 if problems else 0)
PY
