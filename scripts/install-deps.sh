#!/usr/bin/env bash
# Installs what building and testing need on a Debian/Ubuntu machine (as root).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libdivsufsort-dev
          g++-mingw-w64-x86-64-posix wine wine64 locales bzip2 dpkg-dev groff-base)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

# German regional settings for the date tests (natively and under Wine).
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
  sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen
fi
