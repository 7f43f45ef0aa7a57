#!/usr/bin/env bash
# End-to-end checks of ozmconv: output names and order, numbering, exit codes, no partial files.
set -u
bin=$1
data=$2
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

cp "$data/jpeg/colour_420.jpg" "$work/photo.jpg"
cp "$data/png/palette4.png" "$work/A.B.PNG"
mkdir "$work/out"

# Formats are written in the fixed order whatever the order of the list.
out=$("$bin" --to gif,png,jpg --out "$work/out" "$work/photo.jpg" "$work/A.B.PNG")
check "exit 0 when all is written" "[ $? -eq 0 ]"
expected="$work/out/photo.jpg
$work/out/photo.png
$work/out/photo.gif
$work/out/A.B.jpg
$work/out/A.B.png
$work/out/A.B.gif"
check "written paths in order" '[ "$out" = "$expected" ]'

# Converting again numbers the names; the first outputs stay as they were.
before=$(md5sum < "$work/out/photo.jpg")
out=$("$bin" --quality 30 --out "$work/out/" "$work/photo.jpg")
check "second run numbers" '[ "$out" = "$work/out/photo(1).jpg" ]'
check "first output untouched" '[ "$(md5sum < "$work/out/photo.jpg")" = "$before" ]'

# Without --out the file's own folder is used, and the source is never replaced.
src=$(md5sum < "$work/photo.jpg")
out=$("$bin" "$work/photo.jpg")
check "own folder, numbered" '[ "$out" = "$work/photo(1).jpg" ]'
check "source untouched" '[ "$(md5sum < "$work/photo.jpg")" = "$src" ]'

# An unreadable file fails with a reason and exit 1, the others are still converted.
printf 'not an image' > "$work/bad.jpg"
out=$("$bin" --to png --out "$work/out" "$work/bad.jpg" "$work/photo.jpg" 2>"$work/err")
check "exit 1 on a bad file" "[ $? -eq 1 ]"
check "reason on stderr" 'grep -q "cannot read $work/bad.jpg: not a JPEG file" "$work/err"'
check "good file still written" '[ "$out" = "$work/out/photo(1).png" ]'

# A folder that cannot be written: failure, no partial or temporary file.
mkdir "$work/ro" && chmod 555 "$work/ro"
if [ "$(id -u)" -ne 0 ]; then
  "$bin" --out "$work/ro" "$work/photo.jpg" >/dev/null 2>"$work/err"
  check "exit 1 on a write failure" "[ $? -eq 1 ]"
  check "cannot write reported" 'grep -q "cannot write" "$work/err"'
fi
check "no stray files" '[ -z "$(ls -A "$work/ro")" ]'
# --out is created with its parents, taken as typed (blanks kept); a non-folder there is a
# usage error.
out=$("$bin" --out "$work/missing/deeper" "$work/photo.jpg" 2>/dev/null)
check "missing --out created" '[ "$out" = "$work/missing/deeper/photo.jpg" ]'
mkdir "$work/ x " "$work/x"
(cd "$work" && "$bin" --out " x " photo.jpg >/dev/null 2>&1)
check "--out keeps its blanks" '[ -f "$work/ x /photo.jpg" ] && [ -z "$(ls -A "$work/x")" ]'
"$bin" --out "$work/photo.jpg" "$work/A.B.PNG" >/dev/null 2>"$work/err"
check "--out on a file: exit 2" "[ $? -eq 2 ] && grep -q 'not a folder' '$work/err'"

# Parallel jobs give the same names and the same bytes as one job, even when several sources
# share a base name and the target already holds some of the names.
mkdir -p "$work/j1" "$work/j4" "$work/src2"
cp "$data/gif/single.gif" "$work/src2/photo.jpg.gif"
for i in 1 2 3; do cp "$data/jpeg/colour_444.jpg" "$work/src2/p$i.jpg"; done
cp "$data/png/rgb8.png" "$work/src2/photo.png"
set -- "$work/photo.jpg" "$work/src2/p1.jpg" "$work/photo.jpg" "$work/src2/photo.png" "$work/src2/p2.jpg" "$work/bad.jpg" "$work/photo.jpg" "$work/src2/p3.jpg"
touch "$work/j1/photo(1).png" "$work/j4/photo(1).png"
out1=$("$bin" --jobs 1 --to png,jpg,tif --rotate 30 --scale 50 --out "$work/j1" "$@" 2>/dev/null | sed "s|$work/j1/||")
out4=$("$bin" --jobs 4 --to png,jpg,tif --rotate 30 --scale 50 --out "$work/j4" "$@" 2>/dev/null | sed "s|$work/j4/||")
check "same names in the same order" '[ -n "$out1" ] && [ "$out1" = "$out4" ]'
check "same bytes" 'diff -r "$work/j1" "$work/j4" >/dev/null'
check "numbered past existing names" 'echo "$out1" | grep -qx "photo(2).png"'
"$bin" --jobs 3 --to png --out "$work/j4" "$work/photo.jpg" "$work/bad.jpg" >/dev/null 2>"$work/err"
check "summary line" 'grep -q "ozmconv: 1 converted, 1 failed, 1 files written" "$work/err"'

# A list of files instead of the command line: the same names in the same order as when given
# as arguments, with blank lines skipped; NUL-ended names may hold a newline; a name no file
# can have fails alone; a list and arguments together, or a missing list, are usage errors.
mkdir "$work/l1" "$work/l2"
cp "$work/photo.jpg" "$work/src2/two
lines.jpg"
printf '%s\n' "$@" "" > "$work/list"
"$bin" --jobs 3 --to png --out "$work/l1" "$@" >"$work/args.out" 2>/dev/null
"$bin" --jobs 3 --to png --out "$work/l2" --files-from - <"$work/list" 2>"$work/err" | sed "s|/l2/|/l1/|" >"$work/list.out"
check "list: same output as arguments" 'cmp -s "$work/args.out" "$work/list.out" && [ -s "$work/args.out" ]'
check "list: same summary" 'grep -q "ozmconv: 7 converted, 1 failed, 7 files written" "$work/err"'
{ printf '%s\0' "$work/src2/two
lines.jpg"; head -c 70000 /dev/zero | tr '\0' x; printf '\0%s\0' "$work/photo.jpg"; } >"$work/list0"
out=$("$bin" --to bmp --out "$work/l2" --files0-from "$work/list0" 2>"$work/err")
check "list0: exit 1, the overlong name failed alone" "[ $? -eq 1 ]"
check "list0: names with a newline and after the bad one" '[ "$out" = "$work/l2/two
lines.bmp
$work/l2/photo.bmp" ] && grep -q "more than 65536 bytes" "$work/err"'
"$bin" --files-from "$work/list" "$work/photo.jpg" >/dev/null 2>&1; check "list and arguments: exit 2" "[ $? -eq 2 ]"
"$bin" --files-from "$work/nolist" >/dev/null 2>&1; check "missing list: exit 2" "[ $? -eq 2 ]"

# Transform options.
mkdir "$work/rs"
"$bin" --resize 40x --out "$work/rs" --to png "$work/photo.jpg" >/dev/null 2>&1
check "resize keeps aspect" 'python3 -c "import struct,sys; d=open(sys.argv[1],\"rb\").read(); sys.exit(0 if struct.unpack(\">II\", d[16:24])==(40,30) else 1)" "$work/rs/photo.png"'

# Every format, and each output read back by ozmconv itself.
mkdir "$work/all" "$work/back"
out=$("$bin" --to bmp,jpg,jpeg,png,emf,wmf,gif,tif --out "$work/all" "$work/A.B.PNG")
check "all eight formats in order" '[ "$(echo "$out" | sed "s|.*\.||" | tr "\n" " ")" = "bmp jpg jpeg png emf wmf gif tif " ]'
"$bin" --to png --out "$work/back" "$work"/all/* >/dev/null 2>&1
check "every output reads back" "[ $? -eq 0 ] && [ \$(ls "$work/back" | wc -l) -eq 8 ]"

# A TIFF the reader refuses explains why on stderr, before "cannot read".
"$bin" --to png --out "$work/back" "$data/tiff/rgb_lzw.tif" >/dev/null 2>"$work/err"
check "TIFF message then cannot read" 'grep -q "rgb_lzw.tif: Cant read compressed RGB Full Color Image" "$work/err" && grep -q "cannot read .*rgb_lzw.tif: " "$work/err"'

# A metafile with text converts with exit 0 (under the sanitizers: without a leak report,
# fontconfig's own start-up being suppressed by tests/lsan.supp).
"$bin" --to png --out "$work/back" "$data/metafile/lo_shapes.emf" >/dev/null 2>"$work/err"
check "metafile with text: exit 0" "[ $? -eq 0 ]"
check "metafile with text: no error report" '! grep -q "ERROR" "$work/err"'

# Usage errors.
"$bin" >/dev/null 2>&1; check "no files: exit 2" "[ $? -eq 2 ]"
"$bin" --to bmp,xyz "$work/photo.jpg" >/dev/null 2>&1; check "bad format: exit 2" "[ $? -eq 2 ]"
"$bin" --quality 0 "$work/photo.jpg" >/dev/null 2>&1; check "bad quality: exit 2" "[ $? -eq 2 ]"
"$bin" --bogus "$work/photo.jpg" >/dev/null 2>&1; check "unknown option: exit 2" "[ $? -eq 2 ]"
"$bin" --resize 10y20 "$work/photo.jpg" >/dev/null 2>&1; check "bad resize: exit 2" "[ $? -eq 2 ]"
"$bin" --jobs 0 "$work/photo.jpg" >/dev/null 2>&1; check "bad jobs: exit 2" "[ $? -eq 2 ]"
"$bin" --rotate "$work/photo.jpg" >/dev/null 2>&1; check "missing value: exit 2" "[ $? -eq 2 ]"
"$bin" --threads 0 "$work/photo.jpg" >/dev/null 2>&1; check "bad threads: exit 2" "[ $? -eq 2 ]"
"$bin" --threads 257 "$work/photo.jpg" >/dev/null 2>&1; check "too many threads: exit 2" "[ $? -eq 2 ]"

# The bytes never depend on the threads: an image of several PNG bands (a large metafile
# rendering) and its BMP, GIF and TIFF, with one, two and seven threads per image and with
# two jobs side by side.
for t in 1 2 7; do
  mkdir "$work/t$t"
  "$bin" --threads $t --jobs 1 --to png,bmp,gif,tif --scale 80 --rotate 3 --out "$work/t$t" \
    "$data/metafile/ink_gradient_photo.emf" "$work/photo.jpg" >/dev/null 2>&1
  check "threads $t: exit 0" "[ $? -eq 0 ]"
done
mkdir "$work/tj"
"$bin" --jobs 2 --to png,bmp,gif,tif --scale 80 --rotate 3 --out "$work/tj" \
  "$data/metafile/ink_gradient_photo.emf" "$work/photo.jpg" >/dev/null 2>&1
for d in t2 t7 tj; do
  check "threads $d: same bytes as one thread" '(cd "$work/t1" && md5sum *) | (cd "$work/$d" && md5sum -c --quiet)'
done
check "threads: every output there" '[ "$(ls "$work/t1" | wc -l)" -eq 8 ]'

exit $fail
