#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and checks what the desktop
# needs: the program, the .desktop file and the AppStream metainfo (each
# passing its validator), the hicolor icons at their sizes, and the manual
# pages and documents the package carries.
# Usage: check-install.sh BUILD_DIR APP_ID
set -euo pipefail
build=$1
id=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null

fail=0
need() {
    if [[ ! -e "$prefix/$1" ]]; then
        echo "missing after install: $1"
        fail=1
    fi
}
need bin/harmolune
need "share/applications/$id.desktop"
need "share/metainfo/$id.metainfo.xml"
need share/man/man1/harmolune.1.gz
need share/man/man1/harmolune-measure.1.gz
need share/doc/harmolune/copyright
need share/doc/harmolune/changelog.gz
sizes=(16 32 48 64 128 256)
for size in "${sizes[@]}"; do
    need "share/icons/hicolor/${size}x${size}/apps/$id.png"
done
((fail == 0)) || exit 1

desktop-file-validate "$prefix/share/applications/$id.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml"
grep -qx 'Categories=AudioVideo;Audio;Music;' "$prefix/share/applications/$id.desktop"
grep -qx "Icon=$id" "$prefix/share/applications/$id.desktop"

# The icons are PNGs of the size their folder says (width and height in the
# IHDR chunk, bytes 16 to 23).
for size in "${sizes[@]}"; do
    header=$(od -An -tx1 -j16 -N8 "$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png" | tr -d ' \n')
    expected=$(printf '%08x%08x' "$size" "$size")
    if [[ "$header" != "$expected" ]]; then
        echo "icon ${size}x${size} has size header $header"
        exit 1
    fi
done
echo "installed files pass"
