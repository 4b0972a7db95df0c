#!/bin/sh
# up WINE_FOLDER PREFIX: makes the tests' own wine prefix, with the host's temporary folder
# for its own, and lets its first session end (while it lasts, the service database stays
# locked), then starts the session the tests share.
# down WINE_FOLDER PREFIX: ends that prefix's wineserver, and only that one.
set -eu
export PATH="$2:$PATH" WINEPREFIX="$3"
case $1 in
  up)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      rm -rf "$WINEPREFIX"
      wine64 wineboot --init >/dev/null 2>&1 || true
    fi
    # The host's temporary folder as the prefix's: the tests' files then have Unix names the
    # Linux peers can take (C:'s has a colon, which SNMPCONFPATH reads as a separator).
    temp=$(wine64 winepath -w "${TMPDIR:-/tmp}" 2>/dev/null | tr -d '\r')
    for name in TEMP TMP; do
      wine64 reg add 'HKCU\Environment' /v $name /d "$temp" /f >/dev/null 2>&1
    done
    wineserver -w  # the registry is written when that session ends
    [ -f "$WINEPREFIX/system.reg" ] || { echo "wineboot made no prefix in $WINEPREFIX"; exit 1; }
    # One server and one set of wine's own processes for all the tests, kept a minute after the
    # last: started by a test, they would hold its output open, and CTest waits for them.
    wineserver -p60 </dev/null >/dev/null 2>&1
    wine64 cmd /c exit </dev/null >/dev/null 2>&1
    ;;
  down) wineserver -k 2>/dev/null || true ;;
esac
