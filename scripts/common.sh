# Shared settings for the project's scripts (sourced, not run).
TESSARY_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TESSARY_BUILD="${TESSARY_BUILD:-$TESSARY_ROOT/build}"
export WINEPREFIX="${TESSARY_WINEPREFIX:-$TESSARY_BUILD/wine-prefix}"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
# Non-ASCII file names and arguments need a UTF-8 locale under Wine.
case "${LC_ALL:-${LANG:-}}" in
  *UTF-8*|*utf8*) ;;
  *) export LC_ALL=C.UTF-8 ;;
esac
