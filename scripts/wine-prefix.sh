#!/usr/bin/env bash
# Creates the Wine prefix inside the build tree (never the user's ~/.wine) with the
# settings the program and its tests rely on.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
if [ -f "$WINEPREFIX/.tessary-ready" ]; then exit 0; fi
mkdir -p "$WINEPREFIX"
echo "Creating Wine prefix $WINEPREFIX" >&2
wineboot -u >/dev/null 2>&1 || true
wineserver -w
# A new prefix claims Windows 7.
winecfg -v win10 >/dev/null 2>&1 || true
# Without a window manager, destroying a window and removing a tray icon otherwise wait 2 s each.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
# "Segoe UI" does not exist here; a fixed substitute keeps text layout deterministic.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v "Segoe UI" /t REG_SZ /d "Liberation Sans" /f >/dev/null 2>&1
wineserver -w
# Debian's Wine does not find fonts-wine otherwise.
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
ln -sf /usr/share/fonts/truetype/liberation/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
touch "$WINEPREFIX/.tessary-ready"
