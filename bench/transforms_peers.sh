#!/usr/bin/env bash
# Our rotation and resize side by side with vips and ImageMagick, on one 6000 x 4000 24-bit
# image, in one run.
#
#   bench/transforms_peers.sh BIN_DIR      (BIN_DIR holds bench_transforms)
#
# Two comparisons, every figure the best wall time of OZM_PEER_RUNS runs (default 5), the runs
# of all commands interleaved so that a busy moment of a shared machine hurts them alike, all
# files in a RAM folder (/dev/shm when there is one):
#
# 1. The transform alone (the targets are judged on this one). Ours: the in-memory benchmark
#    (bench_transforms, a fresh target bitmap per call, as in a conversion). A peer: its command
#    on its own uncompressed, memory-mapped format (.v for vips, .mpc for ImageMagick) writing
#    the same format, minus the same command without the transform that writes a result of the
#    same size (vips embed or crop, ImageMagick -extent): what is left is the resampling.
# 2. Whole commands on the same binary PPM file, writing a binary PPM: reading, transforming,
#    writing and start-up together. Ours is bench_transforms' --ppm-rotate / --ppm-scale mode.
#
# Targets: rotation by 30 degrees at least twice as fast as `vips rotate` with the nearest
# interpolator and as ImageMagick's -rotate 30 with point filtering; resize to 50% at least as
# fast as `vips resize 0.5 --kernel nearest`. A peer that is not installed is skipped.
set -euo pipefail

bin=${1:?usage: transforms_peers.sh BIN_DIR}
ours=$bin/bench_transforms
runs=${OZM_PEER_RUNS:-5}
[ -x "$ours" ] || { echo "transforms_peers: $ours not built (configure with -DOZM_BENCH=ON)"; exit 1; }
command -v python3 >/dev/null || { echo "transforms_peers: skipped: python3 is needed to time"; exit 0; }

base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/ozm-peers.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$ours" --write-ppm "$work/src.ppm"

vips_bin=$(command -v vips || true)
magick_bin=""
# "magick" is ImageMagick 7; Debian's own name for ImageMagick 6 comes before a plain "convert".
for c in magick convert-im6.q16 convert; do
  if command -v "$c" >/dev/null && "$c" -version 2>/dev/null | grep -q ImageMagick; then
    magick_bin=$(command -v "$c"); break
  fi
done
if [ -n "$vips_bin" ]; then "$vips_bin" copy "$work/src.ppm" "$work/src.v"
else echo "transforms_peers: vips skipped: not installed (Debian package libvips-tools)"; fi
if [ -n "$magick_bin" ]; then "$magick_bin" "$work/src.ppm" "$work/src.mpc"
else echo "transforms_peers: ImageMagick skipped: not installed (Debian package imagemagick)"; fi

"$ours" --benchmark_filter='BM_Rotate/30/2|BM_ResizePointSample/50' \
        --benchmark_repetitions="$runs" --benchmark_format=json >"$work/ours.json" 2>/dev/null

python3 - "$runs" "$work" "$ours" "$vips_bin" "$magick_bin" <<'PY'
import json, os, subprocess, sys, time

runs, work, ours, vips, magick = int(sys.argv[1]), *sys.argv[2:]
f = lambda name: os.path.join(work, name)
W, H = 6000, 4000
RW, RH = 7196, 6464  # the 30 degree result, the same for all three tools

cmds = {  # name -> command line
    "ours rotate ppm": [ours, "--ppm-rotate", f("src.ppm"), f("o.ppm"), "30"],
    "ours resize ppm": [ours, "--ppm-scale", f("src.ppm"), f("o.ppm"), "50"],
}
if vips:
    cmds.update({
        "vips rotate": [vips, "rotate", f("src.v"), f("v.v"), "30", "--interpolate", "nearest"],
        "vips rotate base": [vips, "embed", f("src.v"), f("v.v"), "0", "0", str(RW), str(RH)],
        "vips resize": [vips, "resize", f("src.v"), f("v.v"), "0.5", "--kernel", "nearest"],
        "vips resize base": [vips, "crop", f("src.v"), f("v.v"), "0", "0", str(W // 2), str(H // 2)],
        "vips rotate ppm": [vips, "rotate", f("src.ppm"), f("v.ppm"), "30", "--interpolate", "nearest"],
        "vips resize ppm": [vips, "resize", f("src.ppm"), f("v.ppm"), "0.5", "--kernel", "nearest"],
    })
if magick:
    rotate = ["-filter", "point", "-interpolate", "nearest", "-rotate", "30"]
    cmds.update({
        "magick rotate": [magick, f("src.mpc"), *rotate, f("m.mpc")],
        "magick rotate base": [magick, f("src.mpc"), "-extent", f"{RW}x{RH}", f("m.mpc")],
        "magick rotate ppm": [magick, f("src.ppm"), *rotate, f("m.ppm")],
    })

best = {name: float("inf") for name in cmds}
for _ in range(runs):
    for name, cmd in cmds.items():
        t0 = time.perf_counter()
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        best[name] = min(best[name], time.perf_counter() - t0)

alone = {}
for b in json.load(open(f("ours.json")))["benchmarks"]:
    if b.get("run_type") == "iteration":
        key = "ours rotate" if b["name"].startswith("BM_Rotate") else "ours resize"
        alone[key] = min(alone.get(key, float("inf")), b["real_time"] / 1000.0)
for name in list(best):
    if name + " base" in best:
        alone[name] = max(best[name] - best[name + " base"], 1e-9)
whole = {name[:-4]: t for name, t in best.items() if name.endswith(" ppm")}

def table(title, times):
    print(title)
    for name, t in times.items():
        print(f"  {name:14s} {t:8.3f} s")

def verdicts(times):
    for op, peer, factor in (("rotate", "vips", 2), ("rotate", "magick", 2), ("resize", "vips", 1)):
        if f"{peer} {op}" in times:
            ratio = times[f"{peer} {op}"] / times[f"ours {op}"]
            print(f"  ours {op} vs {peer} {op}: {ratio:6.2f}x as fast (target {factor}x): "
                  f"{'met' if ratio >= factor else 'MISSED'}")

print(f"best of {runs} runs; rotate = 30 degrees (result {RW} x {RH}), resize = 50% ({W // 2} x {H // 2})")
table("1. transform alone (ours in memory; peers: command minus the same-size copy):", alone)
verdicts(alone)
table("2. whole commands, PPM in, PPM out:", whole)
verdicts(whole)
PY
