#!/usr/bin/env bash
# The NSIS installer under wine64, in the tests' own prefix:
#   installer.sh CPACK BUILD_DIR WINE_FOLDER SERVICE_CONTROL_EXE PYTHON3
# cpack makes the installer from this build. A silent install puts the program into
# C:\Program Files\TAMRO, makes the home C:\ProgramData\TAMRO with the default files, gives
# both their access lists (wine keeps none, so the installer's record of them is checked) and
# registers the service, stopped, under its own account; the
# operator edits the files and starts it; installing again (the upgrade path: the old version
# is uninstalled first) keeps the edits and starts the service again; uninstalling removes
# the program and the service and leaves the operator's files. Last, an installation of the
# older layout, everything in C:\tamro, is upgraded: its files move into the home.
set -uo pipefail
cpack=$1 build=$2 wine_folder=$3 control=$4 python=$5
export PATH="$wine_folder:$PATH"
: "${WINEPREFIX:?the tests own wine prefix must be set}"

work=$(mktemp -d "${TMPDIR:-/tmp}/tamro-wine-installer.XXXXXX")
program=$WINEPREFIX/drive_c/Program\ Files/TAMRO
home=$WINEPREFIX/drive_c/ProgramData/TAMRO
old=$WINEPREFIX/drive_c/tamro
exe='C:\Program Files\TAMRO\bin\tamro.exe'
failures=0
pass() { echo "ok: $*"; }
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
check() {
  local name=$1
  shift
  if "$@"; then
    pass "$name"
  else
    fail "$name"
    return 1
  fi
}
service_running() { wine64 "$control" TAMRO interrogate 2>/dev/null | grep -q "state 4"; }
# Neither the installer nor "net start" waits past the start-pending state, and the agent
# reports running only after its first load (longer on a busy machine): running within ten
# seconds counts.
service_comes_up() {
  for _ in $(seq 50); do service_running && return 0; sleep 0.2; done
  return 1
}
service_key='HKLM\System\CurrentControlSet\Services\TAMRO'
service_registered() { wine64 reg query "$service_key" >/dev/null 2>&1; }
service_value() { wine64 reg query "$service_key" /v "$1" 2>/dev/null | tr -d '\r'; }
# "_?=" makes the uninstaller run in place and wait; it must stand unquoted at the end of the
# command line, blanks and all, which only a batch file writes as it is.
uninstall() {
  [ -f "$program/Uninstall.exe" ] || return 0
  printf '"C:\\Program Files\\TAMRO\\Uninstall.exe" /S _?=C:\\Program Files\\TAMRO\r\n' \
    >"$work/uninstall.bat"
  wine64 cmd /c "$(wine64 winepath -w "$work/uninstall.bat" 2>/dev/null | tr -d '\r')"
}
# Leaves the prefix as an earlier, interrupted run may not have: no program, no home, no
# service.
clean() {
  uninstall
  [ ! -f "$program/bin/tamro.exe" ] || wine64 "$exe" --remove-service >/dev/null 2>&1
  rm -rf "$program" "$home" "$old"
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

# The access lists as the installer's record gives them: SYSTEM and the administrators may do
# anything, the service (its identifier is derived from its name) may change the home and
# only read and run the program, users may only read and run the program.
account=$("$python" -c "import hashlib, struct
d = hashlib.sha1('TAMRO'.encode('utf-16-le')).digest()
print('S-1-5-80-' + '-'.join(str(n) for n in struct.unpack('<5I', d)))")
record=$home/log/install.log
recorded() { tr -d '\r' <"$record" | grep -qxF -- "$1"; }
both='NT AUTHORITY\SYSTEM:(OI)(CI)(F) BUILTIN\Administrators:(OI)(CI)(F)'

wine64 "$installer" /S
check "the program and the default files are installed" \
  test -f "$program/bin/tamro.exe" -a -f "$program/share/examples/devices.xml" -a \
  -f "$home/config/configuration.xml" -a -f "$home/config/devices.xml" -a -d "$home/log" -a \
  -d "$home/snmp/persist"
check "the program folder holds no folder of the home" \
  test ! -e "$program/config" -a ! -e "$program/log" -a ! -e "$program/snmp"
check "the home is closed to everyone but SYSTEM, administrators and the service" \
  recorded "C:\ProgramData\TAMRO: $both NT SERVICE\TAMRO:(OI)(CI)(M), not inherited"
check "the program folder is read-only for users and the service" \
  recorded "C:\Program Files\TAMRO: $both BUILTIN\Users:(OI)(CI)(RX) NT SERVICE\TAMRO:(OI)(CI)(RX), not inherited"
check "the service's account is NT SERVICE\TAMRO's identifier" recorded "NT SERVICE\TAMRO is $account"
check "the service runs as its virtual account" \
  eval 'service_value ObjectName | grep -q "NT SERVICE.TAMRO"'
check "the service is registered with its home" \
  eval 'service_value Environment | grep -q "TAMRO_HOME=C:.ProgramData.TAMRO"'
check "the installed configuration passes --check" wine64 "$exe" --check
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
wine64 net start TAMRO >"$work/net-start.out" 2>&1
check "the operator starts the service" service_comes_up || tr -d '\r' <"$work/net-start.out"
rm "$home/config/heartbeat.xml"  # read at the start: the running service goes on without it

wine64 "$installer" /S
check "an upgrade keeps the operator's files" \
  eval 'cmp -s "$work/configuration.xml" "$config" && cmp -s "$work/devices.xml" "$home/config/devices.xml"'
check "an upgrade restores a missing default" test -f "$home/config/heartbeat.xml"
check "an upgrade starts the service again" service_comes_up

uninstall
check "uninstall removes the program" test ! -e "$program/bin/tamro.exe"
check "uninstall removes the service" eval '! service_registered'
check "uninstall leaves the operator's files" cmp -s "$work/devices.xml" "$home/config/devices.xml"

# What an older version's uninstaller left of an installation in C:\tamro.
rm -rf "$home"
mkdir -p "$old/config" "$old/log" "$old/snmp/persist"
cp "$work/configuration.xml" "$work/devices.xml" "$old/config/"
echo 'an old line' >"$old/log/tamro.log"
echo 'engineBoots 3' >"$old/snmp/persist/tamro.conf"
wine64 "$installer" /S
check "an upgrade from C:\\tamro moves the operator's files into the home" \
  eval 'cmp -s "$work/configuration.xml" "$config" && cmp -s "$work/devices.xml" "$home/config/devices.xml" &&
        grep -q "an old line" "$home/log/tamro.log" && test -f "$home/snmp/persist/tamro.conf"'
check "... and leaves C:\\tamro with a note that says where they went" \
  eval 'test ! -e "$old/config" && grep -q "C:.ProgramData.TAMRO" "$old/MOVED.txt"'
check "... completes the defaults, protects the home and starts the service" \
  eval 'test -f "$home/config/mappings.xml" && service_comes_up &&
        recorded "C:\ProgramData\TAMRO: $both NT SERVICE\TAMRO:(OI)(CI)(M), not inherited"'

echo "$failures check(s) failed"
[ "$failures" = 0 ]
