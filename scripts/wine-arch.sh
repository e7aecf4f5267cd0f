# Which Windows build this machine can run under Wine, and the Wine command
# that runs it. The shipped program is 32-bit, and Wine's 32-bit loader is a
# 32-bit Linux program: a kernel built without 32-bit support (some virtual
# machines) cannot start it. There the 64-bit build, which is built from the
# same sources and passes the same tests, is run instead, and the 32-bit
# build is only built and checked.
#   source scripts/wine-arch.sh
# Sets ULVEX_PRESET (i686 or x86_64), ULVEX_WINE (the Wine loader to run
# that build's programs with; WINELOADER is exported for it) and
# ULVEX_WINE_NOTE (empty, or why the 64-bit build is run).
ULVEX_WINE_NOTE=""
if wine --version >/dev/null 2>&1; then
  ULVEX_PRESET=i686
  ULVEX_WINE=wine
else
  ULVEX_PRESET=x86_64
  ULVEX_WINE=/usr/lib/wine/wine64
  export WINELOADER=$ULVEX_WINE
  ULVEX_WINE_NOTE="this machine's kernel cannot run 32-bit programs, so Wine cannot run the 32-bit build here: the 64-bit build's programs and tests are run instead (the 32-bit build is built and its import table checked)"
fi
export ULVEX_PRESET ULVEX_WINE ULVEX_WINE_NOTE
