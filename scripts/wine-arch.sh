# shellcheck shell=bash
# Which Windows build this machine can run under Wine, and the Wine command
# that runs it. The shipped program is 32-bit, and Wine's 32-bit loader is a
# 32-bit Linux program: a kernel built without 32-bit support (some virtual
# machines) cannot start it. There the 64-bit build, which is built from the
# same sources and passes the same tests, is run instead, and the 32-bit
# build is only built and checked.
#   source scripts/wine-arch.sh
# Sets ULVEX_PRESET (i686 or x86_64), ULVEX_WINE (the Wine loader to run
# that build's programs with; WINELOADER is exported for it when it is not
# plain "wine") and ULVEX_WINE_NOTE (empty, or why the 64-bit build is run).
# Either branch can be chosen on any machine by setting ULVEX_PRESET (and,
# if need be, ULVEX_WINE) beforehand:
#   ULVEX_PRESET=x86_64 bash scripts/demo.sh   (Wine's 64-bit loader)
ULVEX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ULVEX_WINE_NOTE=""
case "${ULVEX_PRESET:-}" in
  i686)
    ULVEX_WINE=${ULVEX_WINE:-wine}
    ;;
  x86_64)
    ULVEX_WINE=${ULVEX_WINE:-/usr/lib/wine/wine64}
    ULVEX_WINE_NOTE="ULVEX_PRESET=x86_64 was given: the 64-bit build's programs are run with $ULVEX_WINE"
    ;;
  "")
    if wine --version >/dev/null 2>&1; then
      ULVEX_PRESET=i686
      ULVEX_WINE=wine
    else
      ULVEX_PRESET=x86_64
      ULVEX_WINE=/usr/lib/wine/wine64
      ULVEX_WINE_NOTE="this machine's kernel cannot run 32-bit programs, so Wine cannot run the 32-bit build here: the 64-bit build's programs and tests are run instead (the 32-bit build is built and its import table checked)"
    fi
    ;;
  *)
    echo "ULVEX_PRESET must be i686 or x86_64, not '$ULVEX_PRESET'" >&2
    exit 2
    ;;
esac
if [ "$ULVEX_WINE" != wine ]; then export WINELOADER=$ULVEX_WINE; fi
export ULVEX_PRESET ULVEX_WINE ULVEX_WINE_NOTE

# Stops the Wine prefixes given (their server and every Windows process in
# them, a host the run left included) when the script ends, whichever way:
# at its end, at a failed command, or at a hang-up, Ctrl+C or TERM, after
# which the script ends with 128 and the signal's number, as a shell does.
# Call it before the prefix starts.
#   stop_prefixes_on_exit <prefix dir>...
stop_prefixes_on_exit() {
  ulvex_prefixes_to_stop=("$@")
  trap stop_prefixes EXIT
  trap 'exit 129' HUP
  trap 'exit 130' INT
  trap 'exit 143' TERM
}
stop_prefixes() {
  local prefix
  for prefix in "${ulvex_prefixes_to_stop[@]}"; do
    if [ -d "$prefix" ]; then
      "$ULVEX_ROOT/tests/wine/prefix.sh" down "$prefix" "$ULVEX_WINE"
    fi
  done
}
