#!/usr/bin/env bash
# Installs what the build, the demo and the tests need; does nothing when all is there.
set -euo pipefail

packages=(wine wine32:i386 wine64 libwine-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64
          mingw-w64-tools binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 cmake ninja-build
          googletest libgtest-dev libbenchmark-dev libpugixml-dev clang python3 python3-pyftpdlib
          python3-openssl openssl zip iproute2 procps nginx squid vsftpd)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "setup: installing ${missing[*]}" >&2
$sudo dpkg --add-architecture i386
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
