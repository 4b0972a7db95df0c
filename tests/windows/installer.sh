#!/usr/bin/env bash
# The NSIS installer under wine64, in the tests' own prefix:
#   installer.sh CPACK BUILD_DIR WINE_FOLDER SERVICE_CONTROL_EXE
# cpack makes the installer from this build; a silent install into C:\tamro puts the
# program and the default files in place and registers the service, stopped; the operator
# edits the files and starts it; installing again (the upgrade path: the old version is
# uninstalled first) keeps the edits and starts the service again; uninstalling removes the
# program and the service and leaves the operator's files.
set -uo pipefail
cpack=$1 build=$2 wine_folder=$3 control=$4
export PATH="$wine_folder:$PATH"
: "${WINEPREFIX:?the tests own wine prefix must be set}"

work=$(mktemp -d "${TMPDIR:-/tmp}/tamro-wine-installer.XXXXXX")
home=$WINEPREFIX/drive_c/tamro
failures=0
pass() { echo "ok: $*"; }
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
check() {
  local name=$1
  shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}
service_running() { wine64 "$control" TAMRO interrogate 2>/dev/null | grep -q "state 4"; }
service_registered() { wine64 reg query 'HKLM\System\CurrentControlSet\Services\TAMRO' >/dev/null 2>&1; }
uninstall() { [ ! -f "$home/Uninstall.exe" ] || wine64 'C:\tamro\Uninstall.exe' /S '_?=C:\tamro'; }
# Leaves the prefix as an earlier, interrupted run may not have: no home, no service.
clean() {
  uninstall
  [ ! -f "$home/bin/tamro.exe" ] || wine64 'C:\tamro\bin\tamro.exe' --remove-service >/dev/null 2>&1
  rm -rf "$home"
}
keeper=
finish() {
  clean
  [ -z "$keeper" ] || { exec 9>&- && wait "$keeper"; }  # the keeper ends at the end of its input
  rm -rf "$work"
}
trap finish EXIT
clean

if ! "$cpack" -G NSIS --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.out" 2>&1; then
  tail -n 20 "$work/cpack.out"
  exit 1
fi
installer=$(ls "$work"/tamro-*-win64.exe)

wine64 "$installer" /S
check "the program and the default files are installed" \
  test -f "$home/bin/tamro.exe" -a -f "$home/config/configuration.xml" -a \
  -f "$home/config/devices.xml" -a -f "$home/share/examples/devices.xml"
check "the service is registered with its home" eval "wine64 reg query \
  'HKLM\System\CurrentControlSet\Services\TAMRO' /v Environment | grep -q 'TAMRO_HOME=C:.tamro'"
check "the installed configuration passes --check" \
  wine64 'C:\tamro\bin\tamro.exe' --check -c 'C:\tamro\config\configuration.xml'
check "a first install leaves the service stopped" eval '! service_running'

# The operator names a server (on loopback, where nothing listens) and starts the service;
# wine ends a prefix's services when its last user process exits: keep one alive.
config=$home/config/configuration.xml
sed -i -e 's|<server-uri>.*</server-uri>|<server-uri>http://127.0.0.1:9/heartbeat</server-uri>|' \
  -e '/<metrics-listen>/d' "$config"
echo '<!-- edited by the operator -->' >>"$home/config/devices.xml"
cp "$config" "$work/configuration.xml"
cp "$home/config/devices.xml" "$work/devices.xml"
mkfifo "$work/keeper"
wine64 cmd <"$work/keeper" >"$work/keeper.out" 2>&1 &
keeper=$!
exec 9>"$work/keeper"
for _ in $(seq 150); do [ -s "$work/keeper.out" ] && break; sleep 0.2; done  # its banner: it is up
wine64 net start TAMRO >/dev/null 2>&1
check "the operator starts the service" service_running
rm "$home/config/heartbeat.xml"  # read at the start: the running service goes on without it

wine64 "$installer" /S
check "an upgrade keeps the operator's files" \
  eval 'cmp -s "$work/configuration.xml" "$config" && cmp -s "$work/devices.xml" "$home/config/devices.xml"'
check "an upgrade restores a missing default" test -f "$home/config/heartbeat.xml"
check "an upgrade starts the service again" service_running

uninstall
check "uninstall removes the program" test ! -e "$home/bin/tamro.exe"
check "uninstall removes the service" eval '! service_registered'
check "uninstall leaves the operator's files" cmp -s "$work/devices.xml" "$home/config/devices.xml"

echo "$failures check(s) failed"
[ "$failures" = 0 ]
