#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# A no-op when all are present. "scripts/deps.sh demo" installs only what
# make demo needs (the Linux build, the tools), so a newcomer's first
# command does not wait for the cross compilers and Wine. The 32-bit Wine
# (wine32, for the i686 DLL's tests) comes from Debian's i386 architecture,
# which is added when a package of it is missing.
set -euo pipefail

demo_packages=(
  cmake ninja-build g++ make
  libgtest-dev libgmock-dev
  libcli11-dev nlohmann-json3-dev libfmt-dev
  libmosquitto-dev libcpp-httplib-dev pkg-config
)
packages=(
  "${demo_packages[@]}"
  git clang clang-format libbenchmark-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools
  wine64 wine32:i386 python3 libclang-rt-14-dev
  dpkg-dev file lintian man-db zip unzip mosquitto
)
[[ "${1:-}" == demo ]] && packages=("${demo_packages[@]}")

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
