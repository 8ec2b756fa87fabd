# Sourced by the scripts that run Windows programs: a throwaway Wine prefix
# and a persistent wineserver for the run, so each program starts warm.
WINE=${WINE:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
WINESERVER=${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}
export WINE WINESERVER WINEDEBUG=-all

wine_start() {
  if [ -z "${WINEPREFIX:-}" ]; then
    WINEPREFIX=$(mktemp -d /tmp/zembra-wine.XXXXXX)
    WINE_PREFIX_OWNED=1
  fi
  export WINEPREFIX
  "$WINESERVER" -p
  # Boot under the persistent server, so that the prefix's services start
  # here with their output going nowhere. Started later by a test's first
  # program, they would inherit its pipes and hold them open for the life of
  # the server, and that test would wait for an end of output that never comes.
  "$WINE" wineboot -i </dev/null >/dev/null 2>&1 || true
}

wine_stop() {
  "$WINESERVER" -k 2>/dev/null || true
  if [ -n "${WINE_PREFIX_OWNED:-}" ]; then rm -rf "$WINEPREFIX"; fi
}
