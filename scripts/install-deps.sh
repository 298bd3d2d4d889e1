#!/usr/bin/env bash
# Installs the Debian packages the builds and the tests need, skipping those
# already present: the native toolchain, GoogleTest, Google Benchmark, zlib,
# the ALSA headers for tolvane's sound output, libsndfile for its FLAC and Ogg
# Vorbis output and the sound files it reads in, libsoxr for resampling them,
# FAudio (the XACT3 runtime of Linux game ports) as the tests' second reader
# of the banks the writers build, clang with its libFuzzer runtime for the
# fuzz targets, MinGW-w64 for the 32-bit Windows DLL, and 32-bit Wine to run
# the Windows tests. Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(
    cmake ninja-build g++ libgtest-dev libgmock-dev googletest libbenchmark-dev zlib1g-dev libasound2-dev libsndfile1-dev libsoxr-dev libavcodec-dev libfaudio-dev
    clang libclang-rt-14-dev
    g++-mingw-w64-i686 mingw-w64 libz-mingw-w64-dev
    wine wine32:i386
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

# wine32 is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
# A mirror caught mid-sync fails an index for a while: try again, then
# install from the indexes there are (the install says what is missing).
for attempt in 1 2 3 4; do
    $sudo apt-get update -qq && break
    echo "install-deps: apt-get update failed (attempt $attempt); trying again"
    sleep 30
done
if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"; then
    # With the security index of one architecture missing, its updates no
    # longer pair with the other's; the release's own versions still do.
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -t "$codename" "${missing[@]}"
fi
