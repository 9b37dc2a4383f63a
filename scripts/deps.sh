#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# A no-op when all are present. "scripts/deps.sh demo" installs only what
# make demo needs (the Linux build, the tools), so a newcomer's first
# command does not wait for the cross compilers and Wine. The 32-bit Wine
# (wine32, for the i686 DLL's tests) comes from Debian's i386 architecture,
# which is added when a package of it is missing.
#
# The archive may be in the middle of a mirror sync: apt-get update is
# retried with back-off and the lists it could fetch are used; packages are
# installed in groups, so a group that cannot be installed does not stop
# the others. Only wine32 may stay missing: apt's reason is kept in
# build/wine32-missing, and the i686 Wine steps report it as skipped.
# Any other package that cannot be installed fails this script, named.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
wine32_note="$top/build/wine32-missing"

demo_packages=(
  cmake ninja-build g++ make
  libgtest-dev libgmock-dev
  libcli11-dev nlohmann-json3-dev libfmt-dev libyaml-cpp-dev
  libmosquitto-dev libcpp-httplib-dev libmodbus-dev libssl-dev pkg-config
)
groups=(
  "${demo_packages[*]}"
  "git clang clang-format libbenchmark-dev python3 libclang-rt-14-dev"
  "g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools"
  "wine64"
  "wine32:i386"
  "dpkg-dev file lintian man-db zip unzip mosquitto python3-paho-mqtt mbpoll prometheus"
  "mosquitto-clients time bc curl openssl"
  "chromium chromium-driver python3-selenium fonts-wqy-microhei"
)
[[ "${1:-}" == demo ]] && groups=("${demo_packages[*]}")

missing_of() {
  local package status
  for package in $1; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || echo "$package"
  done
}

all_missing=()
for group in "${groups[@]}"; do
  mapfile -t -O "${#all_missing[@]}" all_missing < <(missing_of "$group")
done
if [[ ${#all_missing[@]} -eq 0 ]]; then
  rm -f "$wine32_note"
  exit 0
fi

# wine32 alone missing, and found impossible to install in the last hour
# (make test calls this once per step): not tried again.
if [[ "${all_missing[*]}" == wine32:i386 && -n "$(find "$wine32_note" -mmin -60 2>/dev/null)" ]]; then
  echo "deps: wine32 could not be installed within the last hour; the i686 Wine steps are skipped"
  exit 0
fi

echo "Installing: ${all_missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
if [[ " ${all_missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi

# apt-get update fails when one index is stale; the others are fetched all
# the same, so after the last try the lists it has are used.
for pause in 5 20 0; do
  if "${sudo[@]}" apt-get update -qq 2>/tmp/tarvo-apt-update.$$; then
    break
  fi
  if ((pause == 0)); then
    echo "deps: apt-get update failed on some indexes; going on with the lists it has:" >&2
    sed 's/^/  /' /tmp/tarvo-apt-update.$$ >&2
  else
    echo "deps: apt-get update failed; trying again in ${pause}s" >&2
    sleep "$pause"
  fi
done
rm -f /tmp/tarvo-apt-update.$$

failed=()
for group in "${groups[@]}"; do
  mapfile -t wanted < <(missing_of "$group")
  ((${#wanted[@]})) || continue
  log=$(mktemp)
  if "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${wanted[@]}" >"$log" 2>&1; then
    [[ "$group" == wine32:i386 ]] && rm -f "$wine32_note"
  elif [[ "$group" == wine32:i386 ]]; then
    mkdir -p "$(dirname "$wine32_note")"
    grep -E '^(E|W): |unmet dependencies|Depends: ' "$log" | head -8 > "$wine32_note" || true
    [[ -s "$wine32_note" ]] || tail -5 "$log" > "$wine32_note"
    {
      echo "deps: WARNING: wine32 cannot be installed; the i686 Wine steps will be skipped. apt says:"
      sed 's/^/  /' "$wine32_note"
    } >&2
  else
    cat "$log" >&2
    failed+=("${wanted[@]}")
  fi
  rm -f "$log"
done
if ((${#failed[@]})); then
  echo "deps: cannot install: ${failed[*]}" >&2
  exit 1
fi
