#!/usr/bin/env bash
# Fails when a program in the folder imports a DLL that Windows does not ship,
# or when a program that asks for administrator rights imports at load time
# a DLL that is not a KnownDLL: Windows maps KnownDLLs from the system folder
# always, but looks for any other DLL beside the program first, and that
# folder (Downloads, a temporary folder) is writable by anyone.
set -euo pipefail
objdump=$1; dir=$2
allowed='^(kernel32|user32|gdi32|msvcrt|advapi32|shell32|ole32|oleaut32|wininet|comdlg32|comctl32|shlwapi|imm32|msimg32|version|ws2_32|uxtheme|dwmapi)\.dll$'
# KnownDLLs on every Windows from 7 to 11 (wininet was one on 7 only;
# comctl32, msimg32, uxtheme, version and dwmapi never were).
known='^(kernel32|user32|gdi32|msvcrt|advapi32|shell32|ole32|oleaut32|comdlg32|shlwapi|imm32|ws2_32)\.dll$'
elevated='requestedExecutionLevel +level="(requireAdministrator|highestAvailable)"'
shopt -s nullglob
exes=("$dir"/*.exe)
(( ${#exes[@]} )) || { echo "no programs in $dir"; exit 1; }
bad=0
for exe in "${exes[@]}"; do
  name=$(basename "$exe")
  mapfile -t dlls < <("$objdump" -p "$exe" | awk '/DLL Name:/{print tolower($3)}')
  (( ${#dlls[@]} )) || { echo "$name: no import table found"; bad=1; continue; }
  strict=0
  if grep -a -q -E "$elevated" "$exe"; then
    strict=1
  elif [[ $name == installer.exe || $name == uninstaller.exe ]]; then
    # Without its manifest it would be checked leniently; that is a fault too.
    echo "$name does not ask for administrator rights"; bad=1
  fi
  for d in "${dlls[@]}"; do
    if ! [[ "$d" =~ $allowed ]]; then
      echo "$name imports $d"; bad=1
    elif (( strict )) && ! [[ "$d" =~ $known ]]; then
      echo "$name runs elevated and imports $d, which is no KnownDLL"; bad=1
    fi
  done
  if (( strict )); then name+=" (elevated)"; fi
  echo "$name: ${dlls[*]}"
done
exit $bad
