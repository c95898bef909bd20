#!/usr/bin/env bash
# Installs the Debian packages that building and testing Clipwright need, when they are missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    libgtest-dev libcli11-dev
    ffmpeg          # ffmpeg and ffprobe: the payload script and the tests' independent readers
    util-linux      # setpriv, for tests that run as an unprivileged user
    python3         # reads back the JSON lines of clipwright-cli --check in its tests
    qt6-base-dev qt6-qpa-plugins libgl-dev   # the desktop program and its artwork
    fonts-dejavu-core desktop-file-utils     # the banner's font; the desktop entry's validator
    xvfb xauth      # screenshots and tests of the desktop program under a real X server
    openbox x11-utils   # window frames in the desktop program's screenshots
    dpkg-dev file gzip   # cpack's Debian package: dpkg-shlibdeps and file find its dependencies
    lintian appstream man-db      # checks of the package, its AppStream metainfo and manual pages
    clang libclang-rt-14-dev      # libFuzzer and the sanitizers' runtime for the fuzz targets
    gstreamer1.0-tools gstreamer1.0-plugins-good gstreamer1.0-plugins-base   # avimux and avidemux: a second writer and reader of AVIs
    gstreamer1.0-plugins-base-apps gstreamer1.0-libav   # gst-discoverer-1.0, and decoders for the MPEG-4, H.264 and ADPCM it must play to see a duration
    mencoder        # a third writer of AVIs, for recordings cut off while it wrote
    dosfstools mtools   # FAT images made and filled without mounting, for the tests of --scan
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
