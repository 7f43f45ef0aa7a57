#!/bin/sh
# make-feed.sh BIN VERSION ROOT: the update feed of the programs in BIN under ROOT, laid out as
# the program reads it below its product page: ROOT/ozmware/update/qv/ with version.txt, the
# setup package setupQV.run and setupQV.run.sha256.
set -eu
bin=$1 version=$2 root=$3
feed=$root/ozmware/update/qv
mkdir -p "$feed"
"$(dirname "$0")/make-setup.sh" "$bin" "$version" "$feed/setupQV.run"
printf '%s\n' "$version" > "$feed/version.txt"
(cd "$feed" && sha256sum setupQV.run > setupQV.run.sha256)
