#!/usr/bin/env bash
# Installs the Debian 12 packages the suite needs. Usage: deps.sh build|test|bench|screenshots
#   build  what the build needs
#   test   also the servers and clients the tests start on loopback: nginx,
#          vsftpd, pyftpdlib (with python3-openssl for its TLS), dante,
#          tinyproxy, curl and lftp (the FTP starters' own test drives them),
#          chromium (the browser-capture test loads Tessel's extension in it)
#   bench  also what the benchmarks compare against and measure with
#   screenshots  the test set and the X server the pictures are drawn on
# Already installed packages are skipped, so a second run is quick; nothing
# is removed.
set -euo pipefail

build_packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev)
test_packages=(nginx-light vsftpd dante-server curl procps tinyproxy openssl
               python3 python3-pyftpdlib python3-openssl lftp chromium)
bench_packages=(aria2 axel time)

wanted=("${build_packages[@]}")
case "${1:-build}" in
  build) ;;
  test) wanted+=("${test_packages[@]}") ;;
  bench) wanted+=("${test_packages[@]}" "${bench_packages[@]}") ;;
  screenshots) wanted+=("${test_packages[@]}" xvfb) ;;
  *) echo "usage: deps.sh build|test|bench|screenshots" >&2; exit 2 ;;
esac

missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi

# Servers are installed for the tests to start on loopback with their own
# configuration; keep the package scripts from starting system-wide daemons.
policy_added=0
if [[ ! -e /usr/sbin/policy-rc.d ]]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
  $SUDO chmod +x /usr/sbin/policy-rc.d
  policy_added=1
fi
cleanup() { if [[ $policy_added -eq 1 ]]; then $SUDO rm -f /usr/sbin/policy-rc.d; fi; }
trap cleanup EXIT

echo "Installing: ${missing[*]}"
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
