#!/usr/bin/env bash
# ozmconv against what scripts and users throw at it: pipes with image names, signals, closed
# or full outputs, file-size limits, odd and long names, a second process in the same folder.
set -u
bin=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
# Waits (at most 30 s) until the folder holds a file: the run has started converting, its
# signal handlers are in place. A slow start (a sanitizer build on a busy machine) must not
# turn a test of the handlers into a test of the default action.
first_output() { for _ in $(seq 1 300); do [ -n "$(ls -A "$1")" ] && return 0; sleep 0.1; done; return 1; }
# Any temporary or partial file left in a folder.
leftovers() { find "$1" -name '.ozm-*' -o -name '*.part*' | head -n 1; }

cp "$data/jpeg/colour_420.jpg" "$work/photo.jpg"

# A named pipe with an image name is refused at once, and the other files are still written.
mkfifo "$work/pipe.jpg"
mkdir "$work/o1"
timeout 10 "$bin" --jobs 2 --to png --out "$work/o1" "$work/pipe.jpg" "$work/photo.jpg" >/dev/null 2>"$work/err"
check "pipe: exit 1, not a hang" "[ $? -eq 1 ]"
check "pipe: reason" 'grep -q "cannot read $work/pipe.jpg: not a regular file" "$work/err"'
check "pipe: other file written" '[ -f "$work/o1/photo.png" ]'

# --help, --version; --null separates written paths by NUL bytes.
"$bin" --help >/dev/null; check "--help exit 0" "[ $? -eq 0 ]"
check "--version" '"$bin" --version | grep -qx "ozmconv [0-9.]*"'
mkdir "$work/o2"
"$bin" --null --to png,gif --out "$work/o2" "$work/photo.jpg" 2>/dev/null >"$work/nul"
check "--null" '[ "$(tr "\0" "|" <"$work/nul")" = "$work/o2/photo.png|$work/o2/photo.gif|" ]'

# A failed print is a failure: /dev/full gives exit 1 with a message; a closed pipe does not
# stop the batch, every file is still written.
mkdir "$work/o3" "$work/o4" "$work/src"
for i in $(seq 1 60); do cp "$work/photo.jpg" "$work/src/p$i.jpg"; done
"$bin" --to png --out "$work/o3" "$work/photo.jpg" >/dev/full 2>"$work/err"
check "/dev/full: exit 1" "[ $? -eq 1 ]"
check "/dev/full: message" 'grep -q "cannot write to standard output: no space left" "$work/err"'
"$bin" --jobs 2 --to bmp --out "$work/o4" "$work/src"/*.jpg 2>"$work/err" | head -c 10 >/dev/null
check "closed stdout: batch finishes" '[ "$(ls "$work/o4" | wc -l)" -eq 60 ]'
check "closed stdout: reported" 'grep -q "cannot write to standard output: broken pipe" "$work/err"'

# A file-size limit fails the one big write with its reason; the batch goes on.
mkdir "$work/o5"
(ulimit -f 8; "$bin" --to bmp,jpg --out "$work/o5" "$work/src/p1.jpg" "$work/src/p2.jpg" >/dev/null 2>"$work/err")
check "size limit: exit 1" "[ $? -eq 1 ]"
check "size limit: reason" 'grep -q "cannot write $work/o5/p1.bmp: file too large" "$work/err"'
check "size limit: batch goes on" '[ -f "$work/o5/p1.jpg" ] && [ -f "$work/o5/p2.jpg" ] && [ ! -e "$work/o5/p1.bmp" ]'
check "size limit: nothing left" '[ -z "$(leftovers "$work/o5")" ]'

# A resize or rotation beyond the pixel limit fails the file and writes nothing.
mkdir "$work/o6"
"$bin" --scale 100000 --to png --out "$work/o6" "$work/photo.jpg" >/dev/null 2>"$work/err"
check "huge scale: exit 1" "[ $? -eq 1 ]"
check "huge scale: reason" 'grep -q "cannot convert $work/photo.jpg: cannot resize: image too large" "$work/err"'
"$bin" --resize 65535x4 --to bmp --out "$work/o6" "$work/photo.jpg" >/dev/null 2>&1
"$bin" --rotate 45 --to png --out "$work/o6" "$work/o6/photo.bmp" >/dev/null 2>"$work/err"
check "huge rotation: exit 1" "[ $? -eq 1 ]"
check "huge rotation: reason" 'grep -q "cannot rotate: image too large" "$work/err"'
check "nothing written" '[ "$(ls "$work/o6")" = "photo.bmp" ]'

# Any directory entry takes a name: a folder, a dangling link, a link loop.
mkdir "$work/o7" "$work/o7/photo.png"
ln -s nowhere "$work/o7/photo(1).png"
ln -s "photo(2).png" "$work/o7/photo(2).png"
out=$("$bin" --to png --out "$work/o7" "$work/photo.jpg" 2>/dev/null)
check "taken entries skipped" '[ "$out" = "$work/o7/photo(3).png" ]'

# Every name that fits can be written; a numbered name that no longer fits says so.
long=$(printf 'n%.0s' $(seq 1 251))
mkdir "$work/o8"
cp "$work/photo.jpg" "$work/$long.jpg"
out=$("$bin" --to jpg --out "$work/o8" "$work/$long.jpg" 2>"$work/err")
check "255-byte name written" '[ "$out" = "$work/o8/$long.jpg" ]'
"$bin" --to jpg --out "$work/o8" "$work/$long.jpg" >/dev/null 2>"$work/err"
check "numbered name too long" 'grep -q "(1).jpg: file name too long" "$work/err"'
check "long names: nothing left" '[ -z "$(leftovers "$work/o8")" ]'

# Two processes writing the same names into one folder lose nothing and replace nothing.
mkdir "$work/o9"
"$bin" --jobs 2 --to png --out "$work/o9" "$work/src"/*.jpg >/dev/null 2>"$work/err9a" &
"$bin" --jobs 2 --to png --out "$work/o9" "$work/src"/*.jpg >/dev/null 2>"$work/err9b" &
wait
check "two processes: all 120 files" '[ "$(ls "$work/o9" | wc -l)" -eq 120 ]'
check "two processes: no failure" '! grep -q "cannot" "$work/err9a" "$work/err9b"'

# SIGTERM, SIGINT and SIGHUP stop at the next file with the summary and 128 + the signal;
# kill -9 leaves no temporary file either.
for sig in TERM INT HUP; do
  mkdir "$work/s$sig"
  "$bin" --jobs 2 --to png,bmp --scale 3000 --out "$work/s$sig" "$work/src"/*.jpg >/dev/null 2>"$work/err" &
  pid=$!
  first_output "$work/s$sig"
  kill -$sig $pid
  wait $pid
  code=$?
  case $sig in TERM) want=143 ;; INT) want=130 ;; HUP) want=129 ;; esac
  check "SIG$sig: exit $want" "[ $code -eq $want ]"
  check "SIG$sig: summary" 'grep -q "stopped by SIG$sig" "$work/err" && grep -q " converted, " "$work/err"'
  check "SIG$sig: stopped early" '[ "$(ls "$work/s$sig" | wc -l)" -lt 120 ]'
  check "SIG$sig: nothing left" '[ -z "$(leftovers "$work/s$sig")" ]'
done
mkdir "$work/kill"
for i in 1 2 3; do
  "$bin" --jobs 2 --to png,bmp --scale 3000 --out "$work/kill" "$work/src"/*.jpg >/dev/null 2>&1 &
  pid=$!
  first_output "$work/kill"
  sleep 0.$((2 * i))
  kill -9 $pid
  wait $pid 2>/dev/null
done
check "kill -9: nothing left" '[ -z "$(leftovers "$work/kill")" ]'
check "kill -9: every file whole" 'python3 - "$work/kill"/* <<"PY"
import sys
for name in sys.argv[1:]:
    d = open(name, "rb").read()
    whole = (d[:2] == b"BM" and len(d) == int.from_bytes(d[2:6], "little")) or \
            (d[:8] == b"\x89PNG\r\n\x1a\n" and d.endswith(b"IEND\xaeB`\x82"))
    if not whole:
        sys.exit("partial file " + name)
PY'

# A metafile is drawn the same whatever was converted before it, so one job and four give the
# same bytes on a batch that mixes 1-bit, 4-bit, grey and colour images with metafiles.
mkdir "$work/mix" "$work/m1" "$work/m4"
i=0
for f in bmp/pil_1.bmp metafile/ink_shapes.emf bmp/im_pal4.bmp metafile/lo_shapes.wmf \
         bmp/pil_l.bmp metafile/ink_chart.emf gif/single.gif metafile/ink_chart.wmf \
         jpeg/colour_444.jpg metafile/lo_shapes.emf; do
  i=$((i + 1)); cp "$data/$f" "$work/mix/$i-$(basename "$f")"
done
"$bin" --jobs 1 --to png,bmp --out "$work/m1" "$work/mix"/* >/dev/null 2>&1
"$bin" --jobs 4 --to png,bmp --out "$work/m4" "$work/mix"/* >/dev/null 2>&1
check "mixed batch: same bytes for 1 and 4 jobs" '[ "$(ls "$work/m1" | wc -l)" -eq 20 ] && diff -r "$work/m1" "$work/m4" >/dev/null'
for n in 2 4 6 8 10; do
  f=$(ls "$work/mix" | grep "^$n-")
  "$bin" --to bmp --out "$work/alone$n" "$work/mix/$f" >/dev/null 2>&1
  check "metafile $f alone gives the same bytes" 'cmp -s "$work/alone$n/${f%.*}.bmp" "$work/m1/${f%.*}.bmp"'
done

# Names that are not UTF-8 or hold control characters print escaped on a terminal only.
name=$(printf 'caf\xe9\nx.jpg')
cp "$work/photo.jpg" "$work/$name"
mkdir "$work/o10"
out=$("$bin" --to png --out "$work/o10" "$work/$name" 2>/dev/null)
check "raw name when not a terminal" '[ "$out" = "$work/o10/$(printf "caf\xe9\nx.png")" ]'
if command -v script >/dev/null; then
  script -qec "\"$bin\" --to gif --out \"$work/o10\" \"$work/$name\"" /dev/null >"$work/tty" 2>&1
  check "escaped on a terminal" 'grep -q "caf\\\\xE9\\\\nx.gif" "$work/tty"'
fi

exit $fail
