#!/usr/bin/env bash
# Our rotation and resize side by side with vips and ImageMagick, on one 6000 x 4000 24-bit
# image, in one run.
#
#   bench/transforms_peers.sh BIN_DIR      (BIN_DIR holds bench_transforms)
#
# How it is made fair: every tool runs as a whole command on the same binary PPM file and
# writes a binary PPM, both in a RAM folder (/dev/shm when there is one), so every command
# pays the same kind of reading, writing and start-up; the figure is the best wall time of
# OZM_PEER_RUNS runs (default 5) of each command, the runs of all tools interleaved so that a
# busy moment of a shared machine hurts them alike. The transform alone is shown as well: ours
# from the in-memory benchmark, a peer's as its command minus its plain copy of the file.
#
# Targets: rotation by 30 degrees at least twice as fast as `vips rotate` with the nearest
# interpolator and as ImageMagick's -rotate 30 with point filtering; resize to 50% at least as
# fast as `vips resize 0.5 --kernel nearest`. A peer that is not installed is skipped.
set -euo pipefail

bin=${1:?usage: transforms_peers.sh BIN_DIR}
ours=$bin/bench_transforms
runs=${OZM_PEER_RUNS:-5}
[ -x "$ours" ] || { echo "transforms_peers: $ours not built (configure with -DOZM_BENCH=ON)"; exit 1; }
command -v python3 >/dev/null || { echo "transforms_peers: skipped, python3 is needed to time"; exit 0; }

base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/ozm-peers.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$ours" --write-ppm "$work/src.ppm"

vips_bin=$(command -v vips || true)
magick_bin=""
# Debian's own name for ImageMagick 6 first; "magick" is ImageMagick 7.
for c in magick convert-im6.q16 convert; do
  if command -v "$c" >/dev/null && "$c" -version 2>/dev/null | grep -q ImageMagick; then
    magick_bin=$(command -v "$c"); break
  fi
done
[ -n "$vips_bin" ] || echo "transforms_peers: vips skipped: not installed (Debian package libvips-tools)"
[ -n "$magick_bin" ] || echo "transforms_peers: ImageMagick skipped: not installed (Debian package imagemagick)"

# Our transform-only figures: the fastest repetition of the in-memory benchmark.
ours_json=$work/ours.json
"$ours" --benchmark_filter='BM_Rotate/30/2|BM_ResizePointSample/50' --benchmark_repetitions="$runs" \
        --benchmark_format=json >"$ours_json" 2>/dev/null

python3 - "$runs" "$work" "$ours" "$ours_json" "$vips_bin" "$magick_bin" <<'PY'
import json, os, subprocess, sys, time

runs, work, ours, ours_json, vips, magick = int(sys.argv[1]), *sys.argv[2:]
src = os.path.join(work, "src.ppm")
out = lambda name: os.path.join(work, name)

commands = {
    "ours rotate 30": [ours, "--ppm-rotate", src, out("o.ppm"), "30"],
    "ours resize 50%": [ours, "--ppm-scale", src, out("o.ppm"), "50"],
}
if vips:
    commands["vips rotate 30"] = [vips, "rotate", src, out("v.ppm"), "30", "--interpolate", "nearest"]
    commands["vips resize 50%"] = [vips, "resize", src, out("v.ppm"), "0.5", "--kernel", "nearest"]
    commands["vips copy"] = [vips, "copy", src, out("v.ppm")]
if magick:
    commands["magick rotate 30"] = [magick, src, "-filter", "point", "-interpolate", "nearest",
                                    "-rotate", "30", out("m.ppm")]
    commands["magick copy"] = [magick, src, out("m.ppm")]

best = {name: float("inf") for name in commands}
for _ in range(runs):
    for name, cmd in commands.items():
        t0 = time.perf_counter()
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        best[name] = min(best[name], time.perf_counter() - t0)

# In-memory figures of our own transforms.
mem = {}
for b in json.load(open(ours_json))["benchmarks"]:
    if b.get("run_type") == "iteration":
        key = "rotate 30" if b["name"].startswith("BM_Rotate") else "resize 50%"
        mem[key] = min(mem.get(key, float("inf")), b["real_time"] / 1000.0)  # ms -> s

print(f"whole commands, PPM in and out, best of {runs} (seconds):")
for name, t in best.items():
    print(f"  {name:18s} {t:8.3f}")
print("transform alone (seconds; peers: command minus their copy):")
for key, t in mem.items():
    print(f"  ours {key:13s} {t:8.3f}  (in memory)")
for tool in ("vips", "magick"):
    if f"{tool} copy" not in best:
        continue
    for op in ("rotate 30", "resize 50%"):
        if f"{tool} {op}" in best:
            print(f"  {tool} {op:12s} {max(best[f'{tool} {op}'] - best[f'{tool} copy'], 0):8.3f}")

def verdict(ours_name, peer_name, factor):
    if peer_name not in best:
        return
    ratio = best[peer_name] / best[ours_name]
    ok = ratio >= factor
    print(f"  {ours_name} vs {peer_name}: {ratio:5.2f}x faster (target {factor:g}x) "
          f"{'met' if ok else 'MISSED'}")

print("targets, on whole commands:")
verdict("ours rotate 30", "vips rotate 30", 2)
verdict("ours rotate 30", "magick rotate 30", 2)
verdict("ours resize 50%", "vips resize 50%", 1)
PY
