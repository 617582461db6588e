#!/bin/sh
# Installs the Debian packages that Strellan needs, only those that are
# missing, through sudo when not root.
#
#   install-deps.sh run      building and running the Linux program (make run)
#   install-deps.sh package  and building both packages (make package)
#   install-deps.sh test     and every test of both programs (make test)
#   install-deps.sh --print SET
#                            lists SET, one package a line; installs nothing
#
# Each set holds the one before it. Only the test set needs the i386
# architecture (for the 32-bit Wine).
set -eu

usage() {
    echo "usage: install-deps.sh [--print] run|package|test" >&2
    exit 2
}

# Building and running the Linux program. windres, from MinGW-w64's
# binutils, compiles the dialog template (resources/strellan.rc) that the
# Linux program reads too, over MinGW-w64's Windows headers; no MinGW
# compiler. Python draws the icons.
RUN="
build-essential cmake make pkg-config python3
binutils-mingw-w64-i686 mingw-w64-common
libx11-dev libxft-dev libfontconfig-dev fonts-dejavu-core
libatk1.0-dev libatk-bridge2.0-dev
libfluidsynth-dev libpulse-dev libasound2-dev libaubio-dev timgm6mb-soundfont
"

# The Debian package (CPack, dpkg-shlibdeps) and the Windows zip.
PACKAGE="
dpkg-dev
g++-mingw-w64-i686
"

# Formatting, the unit tests, the end-to-end tests on Xvfb, PulseAudio and
# the accessibility bus, strellan.exe under Wine, and checking the packages.
TEST="
git clang-format
googletest libgtest-dev
xvfb xdotool x11-utils imagemagick python3-xlib
at-spi2-core dbus python3-pyatspi
fluidsynth pulseaudio pulseaudio-utils sox python3-numpy python3-aubio
pipewire pipewire-pulse wireplumber
wine wine64 wine32:i386 icoutils file
lintian desktop-file-utils appstream librsvg2-bin debootstrap
"

# dpkg-query understands an arch-qualified name too.
installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

PRINT=0
if [ "${1:-}" = "--print" ]; then
    PRINT=1
    shift
fi
[ $# -eq 1 ] || usage
case "$1" in
run) PACKAGES="$RUN" ;;
package) PACKAGES="$RUN $PACKAGE" ;;
test) PACKAGES="$RUN $PACKAGE $TEST" ;;
*) usage ;;
esac

if [ "$PRINT" -eq 1 ]; then
    for p in $PACKAGES; do
        echo "$p"
    done
    exit 0
fi

SUDO=
if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
fi

# Wine's 32-bit loader needs the i386 architecture.
NEED_I386=0
case "$PACKAGES" in
*:i386*)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        NEED_I386=1
    fi
    ;;
esac

missing=
for p in $PACKAGES; do
    if ! installed "$p"; then
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

# The tests run PulseAudio and PipeWire's pipewire-pulse privately, each in
# a folder of its own, but both packages enable themselves as every user's
# sound server at login. On a desktop that has one, the other, installed
# here for the tests only, is kept from taking its place.
HAD_PULSEAUDIO=0
HAD_PIPEWIRE_PULSE=0
installed pulseaudio && HAD_PULSEAUDIO=1
installed pipewire-pulse && HAD_PIPEWIRE_PULSE=1
keep_desktop_server() { # the desktop's server, the one installed for the tests
    echo "install-deps: $1 stays this desktop's sound server; $2 is for the tests only"
    $SUDO systemctl --global disable "$2.socket" "$2.service" >/dev/null 2>&1 || true
}

# The fluidsynth program (the tests' comparison, and on Debian 13 a
# dependency of libfluidsynth-dev too) enables a synthesizer server that
# starts at every login and keeps a stream to the desktop's sound server
# open, never pausing. Installed here, it is kept from starting.
HAD_FLUIDSYNTH=0
installed fluidsynth && HAD_FLUIDSYNTH=1
keep_fluidsynth_server_off() {
    echo "install-deps: the fluidsynth server does not start at login"
    if command -v systemctl >/dev/null 2>&1; then
        $SUDO systemctl --global disable fluidsynth.service >/dev/null 2>&1 || true
    fi
    $SUDO rm -f /etc/systemd/user/default.target.wants/fluidsynth.service
}

if [ -n "$missing" ] || [ "$NEED_I386" -eq 1 ]; then
    echo "install-deps: installing:$missing"
    if [ "$NEED_I386" -eq 1 ]; then
        $SUDO dpkg --add-architecture i386
    fi
    # shellcheck disable=SC2086
    apt_install $missing
fi

if [ "$HAD_FLUIDSYNTH" -eq 0 ] && installed fluidsynth; then
    keep_fluidsynth_server_off
fi

[ "$1" = test ] || exit 0

if [ "$HAD_PULSEAUDIO$HAD_PIPEWIRE_PULSE" = 10 ] && installed pipewire-pulse; then
    keep_desktop_server pulseaudio pipewire-pulse
elif [ "$HAD_PULSEAUDIO$HAD_PIPEWIRE_PULSE" = 01 ] && installed pulseaudio; then
    keep_desktop_server pipewire-pulse pulseaudio
fi

# The 32-bit Wine is a 32-bit Linux program. Some kernels cannot run those
# (a sandboxed VM without IA-32 emulation: "Exec format error"); there, run
# them under qemu-i386-static through binfmt_misc. Registrations do not
# survive a reboot, so this is checked every time.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    if ! installed qemu-user-static; then
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
