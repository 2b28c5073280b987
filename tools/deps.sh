#!/bin/bash
# Installs what building, testing and the demonstration need (Debian 12).
set -euo pipefail
pkgs=(cmake make g++ git googletest mingw-w64 wine64 xvfb xdotool x11-utils zlib1g-dev
      dosfstools mtools clang libclang-rt-14-dev openssl ca-certificates)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
