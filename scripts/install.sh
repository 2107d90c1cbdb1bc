#!/usr/bin/env bash
# Installs the build dependencies, builds Quoril in Release and installs Quoril.vst3 into ~/.vst3.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build_dir=${QUORIL_BUILD_DIR:-build-release}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DQUORIL_BUILD_TESTS=OFF -DQUORIL_BUILD_BENCHMARKS=OFF
cmake --build "$build_dir" --target Quoril_VST3

bundle="$build_dir/Quoril_artefacts/Release/VST3/Quoril.vst3"
mkdir -p "$HOME/.vst3"
rm -rf "$HOME/.vst3/Quoril.vst3"
cp -R "$bundle" "$HOME/.vst3/"
echo "Installed $HOME/.vst3/Quoril.vst3"
