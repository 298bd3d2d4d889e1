#!/usr/bin/env bash
# Runs a Windows program under 32-bit Wine, quietly, with a Wine prefix of
# the project's own (TOLVANE_WINEPREFIX, else build/win32/wine). The first run
# creates the prefix and selects Wine's null display driver, so windows and
# message boxes work without an X server.
set -eu
here="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${TOLVANE_WINEPREFIX:-$here/build/win32/wine}"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ ! -f "$WINEPREFIX/.tolvane-ready" ]; then
    mkdir -p "$WINEPREFIX"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.tolvane-ready" ]; then
            wineboot -i >/dev/null 2>&1
            wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
            wineserver -w
            touch "$WINEPREFIX/.tolvane-ready"
        fi
    ) 9>"$WINEPREFIX/.lock"
fi
exec wine "$@"
