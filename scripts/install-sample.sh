#!/usr/bin/env bash
# The main job: build everything, make the sample installer with mkinstaller
# from sample/, install it under Wine through its window and then (again from
# scratch) in silent mode, and report where the silent run
# installed, what it registered and which shortcuts it made. Screenshots of
# the installer window in its ready and finished states are saved beside the
# output.
#
#   bash scripts/install-sample.sh [--visible]
#
# Output in out/ (OUT_DIR=... for another folder): setup.exe (the sample
# installer), installer-ready.png and installer-finished.png (the window
# before and after installing through it), install-report.txt, and
# wineprefix/ (the Windows side, kept for inspection: drive_c holds the
# installed client).
# --visible runs the installer window on this machine's display ($DISPLAY)
# and waits for you to use it; otherwise everything runs on a private Xvfb.
#
# The 32-bit programs are used where this machine runs 32-bit code, the
# 64-bit ones otherwise (or with SKIN_FORCE_X64=1); the script says which.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-env.sh"
visible=0
[[ "${1:-}" == --visible ]] && visible=1
out=${OUT_DIR:-$root/out}
mkdir -p "$out"
out=$(cd "$out" && pwd)

say() { printf '\n== %s\n' "$*"; }

say "setting up the machine (scripts/setup-machine.sh)"
bash "$root/scripts/setup-machine.sh"
if skin_runs_i686 "$(skin_build_dir i686)/wineprefix"; then
  target=i686
  say "this machine runs 32-bit Windows programs: using the 32-bit (i686) programs"
else
  target=x86_64
  say "this machine cannot run 32-bit Windows programs ($(skin_i686_why)): using the 64-bit (x86_64) programs"
fi
export BUILD_DIR=${BUILD_DIR:-$(skin_build_dir "$target")}

say "building (scripts/build.sh $target)"
SKIP_SETUP=1 bash "$root/scripts/build.sh" "$target"

say "making the sample installer with mkinstaller"
export WINEPREFIX=$out/wineprefix
if [[ -n $(skin_prefix_target "$WINEPREFIX") && $(skin_prefix_target "$WINEPREFIX") != "$target" ]]; then
  echo "$WINEPREFIX was made for the other architecture: made anew"
  rm -rf "$WINEPREFIX"
fi
rm -f "$out/setup.exe"
MKINSTALLER_EXE=$BUILD_DIR/bin/mkinstaller.exe \
bash "$root/tools/mkinstaller" --stub "$BUILD_DIR/bin/installer.exe" --config "$root/sample/app.txt" \
  --skin "$root/sample/skin" --client "$BUILD_DIR/sample/client" --out "$out/setup.exe"
ls -l "$out/setup.exe"

# Product identifiers of the sample configuration (key=value; lines).
field() { sed -n "s/^$1=\\(.*\\);\\s*\$/\\1/p" "$root/sample/app.txt" | head -n1; }
company=$(field company) app=$(field app) name=$(field name)
product_key="HKLM\\Software\\$company\\$app"
uninstall_key="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$company$app"

skin_wine_env "$target"
if ((visible)) && [[ -n "${DISPLAY:-}" ]]; then
  "$root/scripts/wine-run.sh" --arch "$target" cmd /c exit 0 >/dev/null 2>&1 || true
else
  unset DISPLAY
  source "$root/scripts/wine-session.sh"
  skin_session_start "$target"
fi
run() { "$root/scripts/wine-run.sh" --arch "$target" "$@"; }
winepath() { "$SKIN_WINE" winepath "$@"; }
# Both builds keep their records in the registry's 32-bit view.
clear_records() {
  run reg delete "$product_key" /f /reg:32 >/dev/null 2>&1 || true
  run reg delete "$uninstall_key" /f /reg:32 >/dev/null 2>&1 || true
}
# A first installation: no earlier run of this script may answer for it.
clear_records
# Windows gives every profile a Quick Launch folder; a new Wine prefix has
# none, and the installer only puts its shortcut into it.
appdata=$(run cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')
quick_launch=$(winepath -u "$appdata\\Microsoft\\Internet Explorer\\Quick Launch" 2>/dev/null)
mkdir -p "$quick_launch"

if ((visible)) && [[ -n "${DISPLAY:-}" ]]; then
  say "running the installer on $DISPLAY: install, then use the finish button"
  run "$out/setup.exe"
else
  # Where the window proposes to install (nothing registered): cleared, so
  # the end of this run's installation can be seen by its uninst.dat.
  program_files=$(run cmd /c echo %ProgramFiles% 2>/dev/null | tr -d '\r')
  gui_dir=$(winepath -u "$program_files\\$company\\$app" 2>/dev/null || true)
  [[ -n "$gui_dir" ]] && gui_dir=$(realpath -m "$gui_dir")
  clear_gui_dir() {
    if [[ -n "$gui_dir" && "$gui_dir" == "$WINEPREFIX/drive_c/"?* ]]; then rm -rf "$gui_dir"; fi
  }
  clear_gui_dir

  say "screenshot of the installer window (ready state)"
  # (wine-run.sh execs Wine, so $! is the installer's own process.)
  "$root/scripts/wine-run.sh" --arch "$target" "$out/setup.exe" >/dev/null 2>&1 &
  pid=$!
  window=
  skin_settled_window "$pid" "$name" && window=$WINDOW
  # Without a compositor the shadow frame shows over black.
  window_shot() {
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/$1"
    echo "saved $out/$1 (${WIDTH}x${HEIGHT})"
  }
  rm -f "$out/installer-ready.png" "$out/installer-finished.png"
  if [[ -n "$window" ]]; then
    xdotool mousemove 1 1
    sleep 1.5
    window_shot installer-ready.png

    say "installing through the window: start button, then a screenshot of the finished state"
    # The sample is installed in a moment, too fast to catch the progress
    # display; the finished window is what stays. Skin points count from the
    # 6-pixel frame: the start (later finish) button is centred, the close
    # button top right.
    ox=$((X + 6)) oy=$((Y + 6))
    xdotool mousemove $((ox + 300)) $((oy + 200)) click 1
    for _ in $(seq 1 150); do
      [[ -n "$gui_dir" && -f "$gui_dir/uninst.dat" ]] && break
      sleep 0.2
    done
    if [[ -n "$gui_dir" && -f "$gui_dir/uninst.dat" ]]; then
      xdotool mousemove 1 1
      sleep 1.5
      window_shot installer-finished.png
    else
      echo "the installation through the window did not finish; no screenshot" >&2
    fi
    # Closed without starting the client; a finished window asks nothing.
    xdotool mousemove $((ox + 580)) $((oy + 20)) click 1
  else
    echo "the installer window did not appear; no screenshot" >&2
  fi
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  # The silent run below is a first installation again.
  clear_records
  clear_gui_dir

  say "silent installation: setup.exe silent"
  # The sample client closes itself after a moment when started this way.
  set +e
  SAMPLE_CLIENT_CLOSE_AFTER=3000 run "$out/setup.exe" silent
  code=$?
  set -e
  echo "installer exit code: $code"
  sleep 4
fi

say "report"
reg_value() {  # reg_value KEY NAME
  # reg prints in the console code page (936 here).
  run reg query "$1" /v "$2" /reg:32 2>/dev/null | iconv -f GBK -t UTF-8 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_SZ *//p"
}
{
  install_dir=$(reg_value "$product_key" path)
  echo "Installed to: ${install_dir:-(nothing registered)}"
  if [[ -n "$install_dir" ]]; then
    unix_dir=$(realpath -m "$(winepath -u "$install_dir" 2>/dev/null)")
    echo "  (on this machine: $unix_dir)"
    echo
    echo "Files:"
    (cd "$unix_dir" && find . -mindepth 1 | sort | sed 's/^\.\//  /')
    if [[ -f "$unix_dir/uninst.dat" ]]; then
      echo
      echo "uninst.dat lists:"
      tail -c +3 "$unix_dir/uninst.dat" | iconv -f UTF-16LE -t UTF-8 | tr '|' '\n' | sed '/^$/d; s/^/  /'
    fi
    if [[ -f "$unix_dir/client_started.txt" ]]; then
      echo
      echo "The client was started at the end:"
      sed 's/^/  /' "$unix_dir/client_started.txt"
    fi
  fi
  echo
  echo "Registered under $product_key:"
  for v in version path md5 main; do printf '  %-16s %s\n' "$v" "$(reg_value "$product_key" $v)"; done
  echo "Registered under $uninstall_key:"
  for v in DisplayName DisplayVersion Publisher DisplayIcon UninstallString; do
    printf '  %-16s %s\n' "$v" "$(reg_value "$uninstall_key" $v)"
  done
  echo
  echo "Shortcuts:"
  find "$WINEPREFIX/drive_c/users" "$WINEPREFIX/drive_c/ProgramData" -iname '*.lnk' -newer "$out/setup.exe" 2>/dev/null |
    # winepath must not read the list the loop reads.
    sort | while read -r lnk; do echo "  $(winepath -w "$lnk" 2>/dev/null </dev/null || echo "$lnk")"; done
} | tee "$out/install-report.txt"
echo
echo "Report saved to $out/install-report.txt; the installer ($target) is $out/setup.exe"
