#!/usr/bin/env bash
# Installs what building, running and testing need, from Debian's packages (Debian 12).
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev
    libsndfile1-dev libmp3lame-dev libtag1-dev libuchardet-dev
    # the record of each output folder: SQLite through Qt SQL
    libqt6sql6-sqlite
    # ReplayGain 2.0: the loudness meter
    libebur128-dev
    fonts-wqy-microhei
    # Qt's own dialog and button texts in Chinese
    qt6-translations-l10n
    # tests: the reference encoder and two decoders, a real X server, window tools
    lame mpg123 ffmpeg xvfb xauth x11-utils xdotool imagemagick
    # a real window manager, for the frame the About window gets
    openbox
    # tests: FLAC's own decoder, the reference for FLAC input; benchmarks: sox's test signals
    flac sox
    # tests and benchmarks: an MP3 checker beside the decoders
    mp3val
    # tests: an independent ReplayGain 2.0 scanner to check ours against
    loudgain
    # tests: what screen readers see (AT-SPI in a private D-Bus session), the program under a
    # Wayland compositor
    at-spi2-core dbus-daemon python3-pyatspi gir1.2-atspi-2.0 qt6-wayland weston
    # tests: reading the tags back, and the validators of the desktop entry and metadata
    ffmpeg desktop-file-utils appstream
    # the Debian package: its library dependencies and its checker
    dpkg-dev lintian
)

# The benchmarks also want real recordings (64 MB): only when asked, BENCH=1.
if [ "${BENCH:-0}" = 1 ]; then
    packages+=(hyperrogue-music hyperfine)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
