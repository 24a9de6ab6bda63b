#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, if missing.
# Usage: scripts/deps.sh [build|test|package|ci]
set -euo pipefail
kind=${1:-build}
pkgs=(cmake make g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core libcsv-dev
      qt6-serialport-dev)
test_pkgs=(libgtest-dev libgmock-dev util-linux poppler-utils ser2net)
package_pkgs=(dpkg-dev help2man)
case "$kind" in
  test) pkgs+=("${test_pkgs[@]}") ;;
  package) pkgs+=("${package_pkgs[@]}") ;;
  # The tests, the sanitizer and fuzz builds, the package and its checks.
  ci)   pkgs+=("${test_pkgs[@]}" clang libclang-rt-14-dev "${package_pkgs[@]}" appstream desktop-file-utils) ;;
esac
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -o DPkg::Lock::Timeout=300 "${missing[@]}"
fi
