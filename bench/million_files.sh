#!/usr/bin/env bash
# A batch of a million files given through --files-from: peak memory and the time to the first
# written file, against a batch of ten thousand, so that both can be seen to stay flat; then
# the same batch spread over two processes with xargs, as it would be spread over machines.
#
#   bench/million_files.sh [BIN_FOLDER] [--files N]
#
# The sources are hard links to one 2 x 2 BMP (a million names cost no data), each with its own
# name, in folders of 1000, on /dev/shm when it is there (about 5 GB of memory for a million
# outputs and their folder), else under TMPDIR. Everything made is removed at the end.
set -euo pipefail
bin=${1:-build-bench/bin}
[ $# -gt 0 ] && shift
files=1000000
while [ $# -gt 0 ]; do
  case $1 in
    --files) files=$2; shift 2 ;;
    *) echo "usage: $0 [BIN_FOLDER] [--files N]" >&2; exit 2 ;;
  esac
done
ozmconv=$(cd "$bin" && pwd)/ozmconv
base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/ozm-million.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 - "$ozmconv" "$work" "$files" <<'PY'
import os, shutil, struct, subprocess, sys, time
ozmconv, work, total = sys.argv[1], sys.argv[2], int(sys.argv[3])

# One 2 x 2 24-bit BMP, linked under every name.
row = b"\x00\x00\xff\xff\xff\xff\x00\x00"
pixels = row * 2
header = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
info = struct.pack("<IiiHHIIiiII", 40, 2, 2, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
one = os.path.join(work, "one.bmp")
with open(one, "wb") as f:
    f.write(header + info + pixels)

def make_sources(count, folder):
    with open(folder + ".list", "w") as f:
        for i in range(count):
            d = os.path.join(folder, "d%04d" % (i // 1000))
            if i % 1000 == 0:
                os.makedirs(d)
            name = os.path.join(d, "f%07d.bmp" % i)
            os.link(one, name)
            f.write(name + "\n")
    return folder + ".list"

def run(args, label):
    # GNU time gives the peak of the program itself (for xargs: of the largest call).
    rss_file = os.path.join(work, "rss")
    args = ["/usr/bin/time", "-o", rss_file, "-f", "%M %U %S"] + args
    start = time.monotonic()
    p = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    first = p.stdout.readline()
    first_at = time.monotonic() - start
    written = 1 if first else 0
    for _ in p.stdout:
        written += 1
    p.wait()
    wall = time.monotonic() - start
    rss, user, system = open(rss_file).read().split()[-3:]
    return label, written, first_at, wall, float(user) + float(system), int(rss)

results = []
for count in sorted({min(10000, total), total}):
    t0 = time.monotonic()
    src = os.path.join(work, "src%d" % count)
    listed = make_sources(count, src)
    made = time.monotonic() - t0
    out = os.path.join(work, "out%d" % count)
    results.append(run([ozmconv, "--to", "bmp", "--out", out, "--files-from", listed],
                       "%d files, --files-from (sources made in %.0f s)" % (count, made)))
    shutil.rmtree(out)
    if count == total:
        # The same list cut into parts of 10000 names, two parts at a time, one job each.
        out = os.path.join(work, "spread")
        cmd = ("xargs -d '\\n' -n 10000 -P 2 %s --jobs 1 --to bmp --out %s < %s"
               % (ozmconv, out, listed))
        results.append(run(["sh", "-c", cmd], "%d files, xargs -n 10000 -P 2 --jobs 1" % count))

print("| batch | written | first file (s) | wall (s) | files/s | CPU (s) | peak RSS (MB) |")
print("|---|---|---|---|---|---|---|")
for label, written, first, wall, cpu, rss in results:
    print("| %s | %d | %.3f | %.1f | %.0f | %.1f | %.1f |"
          % (label, written, first, wall, written / wall, cpu, rss / 1024))
PY
