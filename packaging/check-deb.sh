#!/bin/sh
# check-deb.sh DEB: lintian (no error allowed), and the desktop entry and the AppStream
# metainfo of the package through their validators.
set -eu
deb=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp"
desktop-file-validate "$tmp"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$tmp"/usr/share/metainfo/*.metainfo.xml
lintian --fail-on error "$deb"
echo "check-deb: $(basename "$deb") passes lintian and the validators"
