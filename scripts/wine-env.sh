# Sourced by every script that builds for or runs under Wine: the project's
# two targets, their build trees, and the Wine environment of each.
#
#   i686    the shipped 32-bit programs, build/      win32 prefixes, Wine's 32-bit loader
#   x86_64  the 64-bit programs,          build-x64/  win64 prefixes, Wine's 64-bit loader
#
# Some machines cannot run 32-bit code at all (the kernel's 32-bit emulation
# is off: every i386 program fails with "Exec format error"). The scripts ask
# the machine by trying, and SKIN_FORCE_X64=1 makes a machine that could run
# both behave like one of those.
#
# Debian's /usr/bin/wine wrapper picks the 32-bit loader whenever wine32 is
# installed, so each target calls its own loader directly, and tools such as
# winepath and wineboot are reached through it ("$SKIN_WINE" winepath ...).

_skin_env_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

SKIN_WINE32_LOADER=${SKIN_WINE32_LOADER:-/usr/lib/wine/wine}
SKIN_WINE64_LOADER=${SKIN_WINE64_LOADER:-/usr/lib/wine/wine64}

skin_targets_all() { echo "i686 x86_64"; }

skin_triple() {
  case $1 in
    i686) echo i686-w64-mingw32 ;;
    x86_64) echo x86_64-w64-mingw32 ;;
    *) echo "unknown target '$1' (i686 or x86_64)" >&2; return 1 ;;
  esac
}

# The build tree of a target: build/ stays the 32-bit one.
skin_build_dir() {
  case $1 in
    i686) echo "$_skin_env_root/build" ;;
    x86_64) echo "$_skin_env_root/build-x64" ;;
    *) skin_triple "$1" >/dev/null ;;
  esac
}

skin_wine_arch() { [[ $1 == x86_64 ]] && echo win64 || echo win32; }

# The target a Windows program was built for, from its PE header.
skin_pe_target() {
  local off machine
  off=$(od -An -tu4 -j60 -N4 -- "$1" 2>/dev/null | tr -d ' ') || return 1
  [[ -n $off ]] || return 1
  machine=$(od -An -tx2 -j$((off + 4)) -N2 -- "$1" 2>/dev/null | tr -d ' ')
  case $machine in
    014c) echo i686 ;;
    8664) echo x86_64 ;;
    *) return 1 ;;
  esac
}

# The target a Wine prefix was made for (empty when it does not exist yet).
skin_prefix_target() {
  local reg=$1/system.reg
  [[ -f $reg ]] || return 0
  if grep -q '^#arch=win64' "$reg"; then echo x86_64; else echo i686; fi
}

# Exports the Wine environment of a target: its architecture and loader, no
# Mono/Gecko prompts, no menu builder, and the zh_CN.UTF-8 locale (code page
# 936, Chinese file names and fonts). SKIN_WINE is the loader to call.
skin_wine_env() {
  skin_triple "$1" >/dev/null || return 1
  export SKIN_TARGET=$1
  export WINEARCH
  WINEARCH=$(skin_wine_arch "$1")
  if [[ $1 == x86_64 ]]; then
    export SKIN_WINE=$SKIN_WINE64_LOADER WINELOADER=$SKIN_WINE64_LOADER
  else
    export SKIN_WINE=$SKIN_WINE32_LOADER
    unset WINELOADER
  fi
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
}

# Whether this machine runs 32-bit Windows programs: tries Wine's 32-bit
# loader (an i386 program) and, when a prefix is given, a 32-bit Windows
# program in it (the prefix is made if need be). The answer is cached for
# this shell; SKIN_FORCE_X64=1 answers no.
skin_runs_i686() {
  if [[ -n ${_skin_runs_i686:-} ]]; then return "$_skin_runs_i686"; fi
  local out
  _skin_runs_i686=1
  _skin_i686_why=
  if [[ ${SKIN_FORCE_X64:-0} == 1 ]]; then
    _skin_i686_why="SKIN_FORCE_X64=1"
  elif [[ ! -x $SKIN_WINE32_LOADER ]]; then
    _skin_i686_why="Wine's 32-bit loader $SKIN_WINE32_LOADER is not installed"
  elif ! out=$("$SKIN_WINE32_LOADER" --version 2>&1); then
    _skin_i686_why="Wine's 32-bit loader does not start (${out##*: })"
  elif [[ -n ${1:-} ]] && ! (export WINEPREFIX=$1; timeout 300 bash "$_skin_env_root/scripts/wine-run.sh" \
        --arch i686 cmd /c exit 0 >/dev/null 2>&1); then
    _skin_i686_why="a 32-bit Windows program does not run under Wine"
  else
    _skin_runs_i686=0
  fi
  return "$_skin_runs_i686"
}

# Why skin_runs_i686 answered no.
skin_i686_why() { echo "${_skin_i686_why:-}"; }
