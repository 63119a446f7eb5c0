#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build both targets and run
# their tests under Wine. Safe to run again: it only installs what is missing.
# The i386 packages (wine32 and its X libraries) install everywhere; whether
# this machine can run them is found out later, by trying (wine-env.sh).
set -euo pipefail

need_pkgs=(
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  cmake ninja-build make dpkg-dev patch xz-utils googletest
  wine wine32 wine64 fonts-wine
  # winex11 needs these for per-pixel alpha, cursors and input; they are only
  # recommended by wine32, so a minimal install lacks them.
  libxrender1:i386 libxcursor1:i386 libxrandr2:i386 libxi6:i386 libxcomposite1:i386
  libxinerama1:i386 libxfixes3:i386 libxxf86vm1:i386
  # and the same for wine64, which runs the 64-bit programs
  libxrender1 libxcursor1 libxrandr2 libxi6 libxcomposite1 libxinerama1 libxfixes3 libxxf86vm1
  xvfb xdotool imagemagick x11-utils
  fonts-wqy-microhei locales
  python3
  # the packaging tool's test lists the archive it writes
  unzip
)

missing=()
for p in "${need_pkgs[@]}"; do
  arch_p="$p"
  [[ "$p" == wine32 ]] && arch_p="wine32:i386"
  if ! dpkg-query -W -f='${Status}' "$arch_p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$arch_p")
  fi
done

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  missing+=(wine32:i386)
fi

if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Wine needs the glibc locale itself, not only LANG, for Chinese file names.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
