#!/usr/bin/env bash
# The engine's output stays byte for byte what it was when the golden sums were taken: the
# bundled samples, real metafiles and TIFF files, each into every format, plain and with a
# resize and a rotation. A change that alters a single byte on purpose regenerates the sums
# with --update and says why in its commit.
set -u
bin=$1
data=$2
sums=$data/same_bytes.sha256
top=$(cd "$data/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
inputs=("$top"/samples/* "$data"/metafile/*.emf "$data"/metafile/*.wmf "$data"/tiff/grey4.tif
        "$data"/tiff/palette8.tif "$data"/tiff/rgb_be_5rows.tif "$data"/tiff/multipage.tif)
mkdir "$work/plain" "$work/turned"
"$bin" --jobs 2 --to bmp,jpg,jpeg,png,emf,wmf,gif,tif --out "$work/plain" "${inputs[@]}" >/dev/null 2>&1
"$bin" --jobs 2 --to bmp,png,gif,tif --scale 50 --rotate 30.25 --out "$work/turned" "${inputs[@]}" >/dev/null 2>&1
(cd "$work" && sha256sum plain/* turned/* | sort -k 2) >"$work/now.sha256"
if [ "${3:-}" = "--update" ]; then
  cp "$work/now.sha256" "$sums"
  echo "updated $sums ($(wc -l <"$sums") files)"
  exit 0
fi
if ! diff "$sums" "$work/now.sha256"; then
  echo "FAIL: output bytes differ from the golden sums (lines above: < golden, > now)"
  exit 1
fi
