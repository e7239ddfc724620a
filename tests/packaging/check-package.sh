#!/usr/bin/env bash
# Installs the program with cmake --install and builds the Debian package, unpacks it into a
# temporary root, and checks what a desktop user gets.
#   check-package.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

expected=(
    usr/bin/zorvik
    usr/share/applications/com.example.Zorvik.desktop
    usr/share/metainfo/com.example.Zorvik.metainfo.xml
    usr/share/icons/hicolor/scalable/apps/com.example.Zorvik.svg
)
for size in 16 24 32 48 64 128 256; do
    expected+=("usr/share/icons/hicolor/${size}x${size}/apps/com.example.Zorvik.png")
done
check_tree() {
    local root=$1
    for file in "${expected[@]}"; do
        [ -e "$root/$file" ] || { echo "missing from $2: $file" >&2; exit 1; }
    done
    [ -x "$root/usr/bin/zorvik" ] || { echo "$2: the program is not executable" >&2; exit 1; }
}

cmake --install "$build" --prefix "$work/installed/usr" >/dev/null
check_tree "$work/installed" "cmake --install"

cpack -G DEB -B "$work/package" --config "$build/CPackConfig.cmake" >/dev/null
deb=$(ls "$work"/package/zorvik_*.deb)
dpkg-deb -x "$deb" "$work/root"
check_tree "$work/root" "the package"

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libqt6gui6 libqt6core6 libc6 qt6-qpa-plugins; do
    grep -q "$needed" <<<"$depends" || { echo "Depends lacks $needed: $depends" >&2; exit 1; }
done
[ "$(dpkg-deb -f "$deb" Package)" = zorvik ]

desktop-file-validate "$work/root/usr/share/applications/com.example.Zorvik.desktop"
appstreamcli validate-tree --no-net "$work/root"
echo "package $(basename "$deb") is complete; Depends: $depends"
