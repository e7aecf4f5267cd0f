#!/bin/sh
# Starts (up) or stops (down) the Wine prefix a test run uses.
#   prefix.sh up|down <prefix dir> [Wine loader, "wine" by default]
set -eu
action=$1
export WINEPREFIX="$2"
wine=${3:-wine}
if [ "$wine" != wine ]; then export WINELOADER="$wine"; fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
  up)
    # Create the prefix on first use, then keep one server running for the
    # whole run and let Wine's own background processes start now, so they
    # do not inherit the pipes of a test.
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$wine" wineboot -i >/dev/null 2>&1 || true
      # Let the first boot finish: its late services (a second services.exe)
      # otherwise race the first COM activation, which then hangs.
      timeout 120 wineserver -w || true
    fi
    wineserver -p 2>/dev/null || true  # may already be running
    "$wine" cmd /c exit 0 >/dev/null 2>&1
    # Windows without a display: Wine's null graphics driver (the program
    # makes a hidden window to hear of log-off and shutdown).
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
      >/dev/null 2>&1
    ;;
  down)
    wineserver -k >/dev/null 2>&1 || true
    ;;
  *)
    echo "usage: prefix.sh up|down <prefix>" >&2
    exit 2
    ;;
esac
