#!/bin/sh
# Installs the Debian packages that building and testing Strellan need,
# only those that are missing. Runs apt through sudo when not root.
set -eu

SUDO=
if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
fi

# Wine's 32-bit loader needs the i386 architecture.
NEED_I386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    NEED_I386=1
fi

PACKAGES="
build-essential cmake make pkg-config git clang-format
googletest libgtest-dev
g++-mingw-w64-i686 binutils-mingw-w64-i686
libx11-dev libxft-dev libfontconfig-dev libxtst-dev fonts-dejavu-core
xvfb xdotool x11-utils imagemagick
wine wine32:i386 file icoutils python3 python3-xlib
"

missing=
for p in $PACKAGES; do
    # dpkg-query understands the arch-qualified name too.
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ] && [ "$NEED_I386" -eq 0 ]; then
    exit 0
fi

echo "install-deps: installing:$missing"
if [ "$NEED_I386" -eq 1 ]; then
    $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
