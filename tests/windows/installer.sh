#!/usr/bin/env bash
# The NSIS installer under wine64, in the tests' own prefix:
#   installer.sh CPACK BUILD_DIR WINE_FOLDER
# cpack makes the installer from this build; a silent install into C:\tamro puts the
# program and the default files in place and registers the service; an operator edits a
# file; installing again (the upgrade path: the old version is uninstalled first) keeps the
# edit; uninstalling removes the program and the service and leaves the operator's files.
set -uo pipefail
cpack=$1 build=$2 wine_folder=$3
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
service_registered() { wine64 reg query 'HKLM\System\CurrentControlSet\Services\TAMRO' >/dev/null 2>&1; }
uninstall() { [ ! -f "$home/Uninstall.exe" ] || wine64 'C:\tamro\Uninstall.exe' /S '_?=C:\tamro'; }
# Leaves the prefix as an earlier, interrupted run may not have: no home, no service.
clean() {
  uninstall
  [ ! -f "$home/bin/tamro.exe" ] || wine64 'C:\tamro\bin\tamro.exe' --remove-service >/dev/null 2>&1
  rm -rf "$home"
}
trap 'clean; rm -rf "$work"' EXIT
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
check "the service is registered" service_registered
check "the installed configuration passes --check" \
  wine64 'C:\tamro\bin\tamro.exe' --check -c 'C:\tamro\config\configuration.xml'

echo '<!-- edited by the operator -->' >>"$home/config/devices.xml"
cp "$home/config/devices.xml" "$work/edited.xml"
rm "$home/config/heartbeat.xml"
wine64 "$installer" /S
check "a second install keeps the operator's file" cmp -s "$work/edited.xml" "$home/config/devices.xml"
check "a second install restores a missing default" test -f "$home/config/heartbeat.xml"
check "the service is registered again" service_registered

uninstall
check "uninstall removes the program" test ! -e "$home/bin/tamro.exe"
check "uninstall removes the service" eval '! service_registered'
check "uninstall leaves the operator's files" cmp -s "$work/edited.xml" "$home/config/devices.xml"

echo "$failures check(s) failed"
[ "$failures" = 0 ]
