#!/usr/bin/env bash
# Takes the picture of the setup dialog in docs/ (docs/setup-dialog.png): the Windows build's
# setup module under Wine on a Japanese system, drawn on a virtual X display (Xvfb), with a
# few users in its list. Needs build-win32 (tests/win32/run.sh makes it); installs Xvfb and
# ImageMagick when they are missing.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=build-win32
missing=()
command -v Xvfb >/dev/null || missing+=(xvfb xauth)
command -v convert >/dev/null || missing+=(imagemagick)
# A Japanese font with Latin letters, as the system font of a Japanese Windows has.
fc-list :lang=ja family | grep -q IPA || missing+=(fonts-ipafont-gothic)
if [ ${#missing[@]} -gt 0 ]; then
    while fuser /var/lib/dpkg/lock-frontend >/dev/null 2>&1; do sleep 2; done
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
work=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null || true; WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
# A prefix of its own that draws with the X11 driver (the tests' prefix draws nowhere).
export WINEPREFIX="$work/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 DISPLAY=:77
Xvfb :77 -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
sleep 1
wineboot -i >/dev/null 2>&1
# Without a window manager on the display, Wine draws the window's frame and caption itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
mkdir -p "$work/mail"
orimapst=(wine "$root/$build/bin/orimapst.exe" --mailbox "Z:${work//\//\\}\\mail")
"${orimapst[@]}" set PortNo 143 >/dev/null
for user in taro:inbox hanako:hanako.box jiro:jiro.box; do
    echo secret | "${orimapst[@]}" add-user "${user#*:}" "${user%%:*}" >/dev/null
done
cd "$root/$build/bin"
wine setup_driver.exe "Z:${work//\//\\}\\mail\\" pick:1110=1 type:1113=secret type:1114=secret \
    "shot:Z:${work//\//\\}\\dialog.bmp" press:2 >/dev/null
convert "$work/dialog.bmp" "$root/docs/setup-dialog.png"
echo "wrote docs/setup-dialog.png"
