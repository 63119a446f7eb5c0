#!/usr/bin/env bash
# The Linux wrapper as a build server calls it: relative and absolute Linux
# paths (with blanks and Chinese), both flag forms, exit codes passed on.
#   wrapper_test.sh <source-root> <build-dir>
set -uo pipefail
src=$1 build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$work/客户 端/data"
printf 'hello' > "$work/客户 端/data/a.txt"
cp "$src/sample/app.txt" "$work/app.txt"

# Relative paths, resolved against the caller's folder.
cd "$work"
"$src/tools/mkinstaller" --stub "$build/bin/client.exe" --config app.txt --skin "$src/sample/skin" \
  --client "客户 端" --out "输出 setup.exe" > out.log 2> err.log
rc=$?
[[ $rc == 0 ]] || fail "packing failed ($rc): $(cat err.log)"
[[ -s "$work/输出 setup.exe" ]] || fail "no installer written"
grep -qF "wrote $work/输出 setup.exe" out.log || fail "summary does not name the Linux path: $(cat out.log)"
grep -q "client 2 entries in app.zip with unins000.exe" out.log || fail "unexpected summary: $(cat out.log)"

# --flag=value form and the archive beside the output.
"$src/tools/mkinstaller" --stub="$build/bin/client.exe" --config="$work/app.txt" --skin="$src/sample/skin" \
  --zip-beside --out="$work/beside.exe" > /dev/null 2> err.log || fail "zip-beside failed: $(cat err.log)"
[[ -s "$work/beside.zip" ]] || fail "no archive beside the installer"
listing=$(unzip -l "$work/beside.zip")
grep -q bg_main.png <<<"$listing" || fail "beside.zip does not list the skin"

# Failure: non-zero exit, a message naming the file, nothing written.
"$src/tools/mkinstaller" --stub "$build/bin/client.exe" --config "$work/missing.txt" \
  --skin "$src/sample/skin" --out "$work/never.exe" > /dev/null 2> err.log
rc=$?
[[ $rc == 1 ]] || fail "missing configuration gave exit code $rc"
grep -qF "$work/missing.txt: cannot be read" err.log || fail "message does not name the file: $(cat err.log)"
[[ ! -e "$work/never.exe" ]] || fail "an output was written on failure"

# The skin check takes a Linux path and names broken files by theirs.
"$src/tools/mkinstaller" --check-skin "$src/sample/skin" > out.log 2> err.log
rc=$?
[[ $rc == 0 ]] || fail "the sample skin fails its check ($rc): $(cat err.log)"
mkdir "$work/皮肤 skin"
cp "$src/sample/skin/"* "$work/皮肤 skin/"
rm "$work/皮肤 skin/logo.png"
"$src/tools/mkinstaller" --check-skin="皮肤 skin" > /dev/null 2> err.log
rc=$?
[[ $rc == 1 ]] || fail "a skin without logo.png gave exit code $rc"
grep -qF "$work/皮肤 skin/logo.png: is missing" err.log || fail "the check does not name the file: $(cat err.log)"

# Pictures of a skin with Linux paths, on a display of the wrapper's own
# when the caller has none.
(unset DISPLAY
 "$src/tools/mkinstaller" --render-skin "$src/sample/skin" --stub "$build/bin/installer.exe" \
   --config "$work/app.txt" --out "图片 pictures" > out.log 2> err.log) ||
  fail "--render-skin failed: $(cat err.log)"
for s in ready unticked installing finished failed; do
  [[ "$(file -b "$work/图片 pictures/$s.png")" == "PNG image data, 612 x 412,"* ]] ||
    fail "no 612x412 picture of the $s state"
done
grep -qF "wrote $work/图片 pictures/ready.png" out.log || fail "the pictures are not named by Linux path: $(cat out.log)"

"$src/tools/mkinstaller" --no-such-flag > /dev/null 2>&1
[[ $? == 2 ]] || fail "usage errors should exit with 2"
echo "wrapper: ok"
