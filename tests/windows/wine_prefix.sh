#!/bin/sh
# up WINE_FOLDER PREFIX: makes the tests' own wine prefix and lets its first session end
# (while it lasts, the service database stays locked).
# down WINE_FOLDER PREFIX: ends that prefix's wineserver, and only that one.
set -eu
export PATH="$2:$PATH" WINEPREFIX="$3"
case $1 in
  up)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      rm -rf "$WINEPREFIX"
      wine64 wineboot --init >/dev/null 2>&1 || true
    fi
    wineserver -w  # the registry is written when that session ends
    [ -f "$WINEPREFIX/system.reg" ] || { echo "wineboot made no prefix in $WINEPREFIX"; exit 1; }
    ;;
  down) wineserver -k 2>/dev/null || true ;;
esac
