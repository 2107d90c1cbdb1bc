#!/usr/bin/env bash
# Installs every Debian package that building and testing Quoril needs, and any further packages
# named as arguments (the sanitizer builds name their compiler). Safe to run again.
set -euo pipefail

packages=(
  juce-modules-source cmake ninja-build g++ pkg-config libexpat1-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth libxtst-dev
  openbox zenity
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
