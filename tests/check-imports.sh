#!/usr/bin/env bash
# Fails when a program in the folder imports a DLL that Windows does not ship.
set -euo pipefail
objdump=$1; dir=$2
allowed='^(kernel32|user32|gdi32|msvcrt|advapi32|shell32|ole32|oleaut32|wininet|comdlg32|comctl32|shlwapi|imm32|msimg32|version|ws2_32|uxtheme|dwmapi)\.dll$'
shopt -s nullglob
exes=("$dir"/*.exe)
(( ${#exes[@]} )) || { echo "no programs in $dir"; exit 1; }
bad=0
for exe in "${exes[@]}"; do
  mapfile -t dlls < <("$objdump" -p "$exe" | awk '/DLL Name:/{print tolower($3)}')
  (( ${#dlls[@]} )) || { echo "$(basename "$exe"): no import table found"; bad=1; continue; }
  for d in "${dlls[@]}"; do
    if ! [[ "$d" =~ $allowed ]]; then
      echo "$(basename "$exe") imports $d"; bad=1
    fi
  done
  echo "$(basename "$exe"): ${dlls[*]}"
done
exit $bad
