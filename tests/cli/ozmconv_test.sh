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
check "reason on stderr" 'grep -q "bad.jpg: cannot read" "$work/err"'
check "good file still written" '[ "$out" = "$work/out/photo(1).png" ]'

# A folder that cannot be written: failure, no partial or temporary file.
mkdir "$work/ro" && chmod 555 "$work/ro"
if [ "$(id -u)" -ne 0 ]; then
  "$bin" --out "$work/ro" "$work/photo.jpg" >/dev/null 2>"$work/err"
  check "exit 1 on a write failure" "[ $? -eq 1 ]"
  check "cannot write reported" 'grep -q "cannot write" "$work/err"'
fi
"$bin" --out "$work/missing" "$work/photo.jpg" >/dev/null 2>&1
check "exit 1 for a missing folder" "[ $? -eq 1 ]"
check "no stray files" '[ -z "$(ls -A "$work/ro")" ] && [ ! -e "$work/missing" ]'

# Usage errors.
"$bin" >/dev/null 2>&1; check "no files: exit 2" "[ $? -eq 2 ]"
"$bin" --to bmp,xyz "$work/photo.jpg" >/dev/null 2>&1; check "bad format: exit 2" "[ $? -eq 2 ]"
"$bin" --quality 0 "$work/photo.jpg" >/dev/null 2>&1; check "bad quality: exit 2" "[ $? -eq 2 ]"
"$bin" --bogus "$work/photo.jpg" >/dev/null 2>&1; check "unknown option: exit 2" "[ $? -eq 2 ]"

exit $fail
