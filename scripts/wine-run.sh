#!/usr/bin/env bash
# Runs a Windows program of the build under Wine in the project's own prefix
# (CTest uses this as the cross-compiling emulator).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
if [ ! -f "$WINEPREFIX/.tessary-ready" ]; then
  "$TESSARY_ROOT/scripts/wine-prefix.sh" >&2 || exit 1
fi
exec wine "$@"
