#!/usr/bin/env bash
# Installs every Debian package Vantrel needs to build, test and run.
# Idempotent: when everything is present it does nothing and prints nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libx265-dev
  ffmpeg
  qt6-base-dev
  nlohmann-json3-dev libfmt-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-format
  # batches across machines: the throw-away Slurm cluster of make farm-test
  slurm-wlm munge jq
  # the window: screenshots under Xvfb, the .deb and its desktop entry
  xvfb x11-apps imagemagick dpkg-dev desktop-file-utils lintian appstream
  # CI: the sanitizer and fuzzing builds
  clang-14 libclang-rt-14-dev
  # make bench-e2e: GNU time for peak memory
  time
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run as root (or: sudo $0) to install them" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
