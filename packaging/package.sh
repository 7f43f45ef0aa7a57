#!/bin/sh
# package.sh BUILD VERSION DIST: from the programs of the Release build in BUILD, the three
# artifacts into DIST: the Debian package, the setup package setupQV.run and the update feed
# feed/ozmware/update/qv/ (version.txt, setupQV.run, setupQV.run.sha256), which any static
# web server can serve as the product page.
set -eu
build=$1 version=$2 dist=$3
here=$(cd "$(dirname "$0")" && pwd)
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$here/.." log -1 --format=%ct 2>/dev/null || date +%s)}
mkdir -p "$dist"
"$here/make-deb.sh" "$build/bin" "$version" "$dist"
"$here/make-feed.sh" "$build/bin" "$version" "$dist/feed"
cp "$dist/feed/ozmware/update/qv/setupQV.run" "$dist/setupQV.run"
echo "$dist/setupQV.run"
echo "$dist/feed/ozmware/update/qv/"
