#!/usr/bin/env bash
# Smoke test of tamro.exe under wine64, with snmpd and the management-server stand-in on
# 127.0.0.1 (free ports):
#   smoke.sh TAMRO_EXE WINE_FOLDER SERVICE_CONTROL_EXE SOURCE_DIR PYTHON3 SNMPD
# -V, -h, --check, --once, a foreground run that posts device and status heartbeats and
# stops on CTRL-C with exit code 0, then the service path under wine's service control
# manager: install, start, PARAMCHANGE reload, stop, remove, and a start that fails.
# WINEPREFIX comes from the caller (the tests' own prefix). Everything started here is
# stopped by its process id.
set -uo pipefail
exe=$1 wine_folder=$2 control=$3 source_dir=$4 python=$5 snmpd=$6
export PATH="$wine_folder:$PATH"
: "${WINEPREFIX:?the tests own wine prefix must be set}"

work=$(mktemp -d "${TMPDIR:-/tmp}/tamro-wine-smoke.XXXXXX")
pids=()
keeper_fd=
failures=0
cleanup() {
  [ -z "$keeper_fd" ] || exec 9>&-
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

pass() { echo "ok: $*"; }
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
# expect NAME WANTED_STATUS PATTERN COMMAND...: runs COMMAND, checks its status and output.
expect() {
  local name=$1 wanted=$2 pattern=$3
  shift 3
  local output status
  output=$("$@" 2>&1)
  status=$?
  if [ "$status" = "$wanted" ] && grep -q -- "$pattern" <<<"$output"; then
    pass "$name"
  else
    fail "$name: exit $status (wanted $wanted), output:"
    echo "$output" | tail -n 15
  fi
}
# wait_for SECONDS COMMAND...: true once COMMAND succeeds.
wait_for() {
  local tries=$(($1 * 5))
  shift
  while [ $tries -gt 0 ]; do
    "$@" && return 0
    sleep 0.2
    tries=$((tries - 1))
  done
  return 1
}
free_port() {
  "$python" -c "import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM if sys.argv[1] == 'udp' else socket.SOCK_STREAM)
s.bind(('127.0.0.1', 0)); print(s.getsockname()[1])" "$1"
}
win() { echo "Z:$1"; }  # wine maps / to Z:, and Windows takes forward slashes
count() {
  local n
  n=$(grep -c -- "$1" "$work/record.jsonl" 2>/dev/null)
  echo "${n:-0}"
}

# --- peers ----------------------------------------------------------------------------------

snmp_port=$(free_port udp)
cat >"$work/snmpd.conf" <<EOF
rocommunity public 127.0.0.1
sysName smoke-device
sysLocation smoke-lab
sysContact smoke@example.org
dontLogTCPWrappersConnects yes
EOF
SNMPCONFPATH=$work SNMP_PERSISTENT_DIR=$work/snmpd-persist "$snmpd" -f -Lo -C \
  -c "$work/snmpd.conf" -p "$work/snmpd.pid" -M "$work" -m "" "udp:127.0.0.1:$snmp_port" \
  >"$work/snmpd.out" 2>&1 &
pids+=($!)
snmpd_ready() { snmpget -v2c -c public -t 0.3 -r 0 "127.0.0.1:$snmp_port" .1.3.6.1.2.1.1.5.0 >/dev/null 2>&1; }
wait_for 10 snmpd_ready || { echo "snmpd did not start: $(cat "$work/snmpd.out")"; exit 1; }

# Short intervals: a device polled moments before is due again by the service run.
echo '{"interval": 5, "statistics": [], "alarms": []}' >"$work/script.json"
"$python" "$source_dir/tools/management_server.py" --port 0 --script "$work/script.json" \
  --record "$work/record.jsonl" >"$work/server.out" 2>&1 &
pids+=($!)
wait_for 10 grep -q "listening on" "$work/server.out" || { echo "server did not start"; exit 1; }
http_port=$(sed -n 's/.*listening on \([0-9]*\).*/\1/p' "$work/server.out" | head -n 1)

# --- the agent's files, by absolute paths (a service starts in the system folder) -----------

w=$(win "$work")
cp "$source_dir/etc/heartbeat.xml" "$source_dir/etc/mappings.xml" "$work/"
mkdir -p "$work/persist" "$work/mibs"
sed -e "s|<udp-port>[0-9]*</udp-port>|<udp-port>$snmp_port</udp-port>|" \
  -e "s|<heartbeat-interval>[0-9]*</heartbeat-interval>|<heartbeat-interval>5</heartbeat-interval>|" \
  "$source_dir/etc/devices.xml" >"$work/devices.xml"
sed -e "s|<file>.*</file>|<file>$w/tamro.log</file>|" \
  -e "s|<level>.*</level>|<level>debug</level>|" \
  -e "s|<heartbeat-template>.*</heartbeat-template>|<heartbeat-template>$w/heartbeat.xml</heartbeat-template>|" \
  -e "s|<server-uri>.*</server-uri>|<server-uri>http://127.0.0.1:$http_port/heartbeat</server-uri>|" \
  -e "s|<mib-directory>.*</mib-directory>|<mib-directory>$w/mibs</mib-directory>|" \
  -e "s|<persistent-directory>.*</persistent-directory>|<persistent-directory>$w/persist</persistent-directory>|" \
  -e "s|<mappings-file>.*</mappings-file>|<mappings-file>$w/mappings.xml</mappings-file>|" \
  -e "s|<devices-file>.*</devices-file>|<devices-file>$w/devices.xml</devices-file>|" \
  "$source_dir/etc/configuration.xml" >"$work/configuration.xml"
config=$w/configuration.xml

# --- command-line modes ---------------------------------------------------------------------

expect "-V" 0 "TAMRO v" wine64 "$exe" -V
expect "-h" 0 "install-service" wine64 "$exe" -h
expect "--check" 0 "is OK" wine64 "$exe" --check -c "$config"
expect "--once against snmpd" 0 "1 of 1 devices answered" wine64 "$exe" --once -c "$config"
expect "no -f outside the service manager" 1 "started as a service" wine64 "$exe" -c "$config"

# --- foreground run, CTRL-C -----------------------------------------------------------------

wine64 "$exe" -f -c "$config" >"$work/foreground.out" 2>&1 &
agent=$!
pids+=($agent)
device_posted() { [ "$(count '<sys-name>smoke-device</sys-name>')" -ge "$1" ]; }
status_posted() { [ "$(count '<name>Tamro demo</name>')" -ge "$1" ]; }
if wait_for 60 device_posted 1 && wait_for 30 status_posted 1; then
  pass "foreground run posts device and status heartbeats"
else
  fail "foreground run posted no device and status heartbeats"
  tail -n 20 "$work/foreground.out"
fi
kill -INT "$agent"
wait "$agent"
status=$?
if [ "$status" = 0 ] && grep -q "shutting down" "$work/foreground.out"; then
  pass "CTRL-C stops the foreground run with exit code 0"
else
  fail "CTRL-C: exit $status"
  tail -n 20 "$work/foreground.out"
fi

# --- persistent connections: a later heartbeat goes over the kept connection (kept longer ---
# than a tick), and a stop closes it

sed -e "s|</server-uri>|</server-uri><persistent-connections>true</persistent-connections><idle-timeout>60</idle-timeout>|" \
  "$work/configuration.xml" >"$work/kept.xml"
echo '{"interval": 5, "statistics": [], "alarms": [], "keep_alive": true}' >"$work/script.json"
wine64 "$exe" -f -c "$w/kept.xml" >"$work/kept.out" 2>&1 &
agent=$!
pids+=($agent)
if wait_for 60 grep -q '"on_connection": 2' "$work/record.jsonl"; then
  pass "persistent connections carry a second heartbeat over the same connection"
else
  fail "no heartbeat went over a kept connection"
  tail -n 20 "$work/kept.out"
fi
kill -INT "$agent"
wait "$agent"
status=$?
if [ "$status" = 0 ]; then
  pass "CTRL-C stops a run with kept connections with exit code 0"
else
  fail "CTRL-C with kept connections: exit $status"
  tail -n 20 "$work/kept.out"
fi
echo '{"interval": 5, "statistics": [], "alarms": []}' >"$work/script.json"

# --- the service ----------------------------------------------------------------------------

# Wine ends a prefix's services when its last user process exits: keep one alive.
mkfifo "$work/keeper"
wine64 cmd <"$work/keeper" >/dev/null 2>&1 &
pids+=($!)
exec 9>"$work/keeper"
keeper_fd=9

expect "--install-service" 0 "installed" wine64 "$exe" --install-service -c "$config"
expect "--install-service twice" 1 "already installed" wine64 "$exe" --install-service -c "$config"
devices_before=$(count '<sys-name>smoke-device</sys-name>')
drains_before=$(grep -c "shutting down" "$work/tamro.log")
expect "service start" 0 "started" wine64 net start TAMRO
if wait_for 60 device_posted $((devices_before + 1)); then
  pass "the service polls and posts"
else
  fail "the service posted no device heartbeat"
  tail -n 20 "$work/tamro.log"
fi
expect "PARAMCHANGE" 0 "state 4" wine64 "$control" TAMRO paramchange
if wait_for 30 grep -q "reloading configuration" "$work/tamro.log"; then
  pass "PARAMCHANGE reloads the configuration"
else
  fail "PARAMCHANGE did not reload"
fi
expect "service stop" 0 "stopped" wine64 net stop TAMRO
if [ "$(grep -c "shutting down" "$work/tamro.log")" -gt "$drains_before" ]; then
  pass "the service drained on stop"
else
  fail "no drain on stop"
fi
expect "--remove-service" 0 "removed" wine64 "$exe" --remove-service
expect "--remove-service twice" 1 "not installed" wine64 "$exe" --remove-service

# A start that fails (no such configuration) stops with the agent's own exit code.
expect "--install-service, missing file" 0 "installed" wine64 "$exe" --install-service \
  -c "$w/missing.xml"
wine64 net start TAMRO >/dev/null 2>&1
expect "a failed start's exit code" 0 "state 1 exit 1066 specific 1" wine64 "$control" TAMRO query
expect "--remove-service after the failed start" 0 "removed" wine64 "$exe" --remove-service

echo "$failures check(s) failed"
[ "$failures" = 0 ]
