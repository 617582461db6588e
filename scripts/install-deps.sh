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
libatk1.0-dev libatk-bridge2.0-dev at-spi2-core dbus python3-pyatspi
libfluidsynth-dev libpulse-dev libaubio-dev timgm6mb-soundfont fluidsynth
pulseaudio pulseaudio-utils sox python3-numpy python3-aubio
xvfb xdotool x11-utils imagemagick
wine wine64 wine32:i386 file icoutils python3 python3-xlib
"

missing=
for p in $PACKAGES; do
    # dpkg-query understands the arch-qualified name too.
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing="$missing $p"
    fi
done

export DEBIAN_FRONTEND=noninteractive
UPDATED=0
apt_install() {
    if [ "$UPDATED" -eq 0 ]; then
        $SUDO apt-get update -q
        UPDATED=1
    fi
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -q --no-install-recommends "$@"
}

if [ -n "$missing" ] || [ "$NEED_I386" -eq 1 ]; then
    echo "install-deps: installing:$missing"
    if [ "$NEED_I386" -eq 1 ]; then
        $SUDO dpkg --add-architecture i386
    fi
    # shellcheck disable=SC2086
    apt_install $missing
fi

# The 32-bit Wine is a 32-bit Linux program. Some kernels cannot run those
# (a sandboxed VM without IA-32 emulation: "Exec format error"); there, run
# them under qemu-i386-static through binfmt_misc. Registrations do not
# survive a reboot, so this is checked every time.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    if ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q 'install ok installed'; then
        echo "install-deps: this kernel cannot run i386 binaries; installing qemu-user-static"
        apt_install qemu-user-static
    fi
    if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
        $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    fi
    if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
        echo "install-deps: running i386 binaries under qemu-i386-static"
        # ELF32, little-endian, executable or shared object, machine 3 (i386).
        printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
            $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null
    fi
    if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo "install-deps: cannot run the 32-bit Wine on this machine" >&2
        exit 1
    fi
fi
