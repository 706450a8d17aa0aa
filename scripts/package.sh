#!/usr/bin/env bash
# Builds the Debian packages of the program and of its driver kit and checks
# them:
#   kv930_<version>_<arch>.deb      the program in /usr/lib/kv930 with its Lib/,
#                                   /usr/bin/kv930, the manual, desktop entry,
#                                   icons, AppStream metainfo, man page and the
#                                   udev rule for USB-TMC meters
#   kv930-dev_<version>_<arch>.deb  the driver kit: headers, dmmdata.cpp, the
#                                   Kv930 CMake package, the transports
# Dependencies come from dpkg-shlibdeps; lintian must report no errors, and the
# metainfo and desktop entry must pass appstreamcli and desktop-file-validate.
#
# Usage: scripts/package.sh [--qt 5|6] [--build-dir DIR] [--out DIR] [--no-checks]
#   --qt         Qt major version of the Release build made in build-package
#                (default 6: Qt 5 is no longer maintained upstream)
#   --build-dir  package this configured and built tree instead
#   --out        where the packages are written (default: the build folder)
#   --no-checks  leave lintian and the validators to the caller (the tests)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

qt=6
build=""
out=""
checks=1
while [ $# -gt 0 ]; do
    case "$1" in
    --qt) qt=$2; shift 2 ;;
    --build-dir) build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --no-checks) checks=0; shift ;;
    *) echo "usage: $0 [--qt 5|6] [--build-dir DIR] [--out DIR] [--no-checks]" >&2; exit 2 ;;
    esac
done

if [ -z "$build" ]; then
    scripts/deps.sh
    build=build-package
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV930_QT_MAJOR="$qt" \
        -DKV930_BUILD_TESTS=OFF -DKV930_BUILD_BENCH=OFF >/dev/null
    cmake --build "$build" -j "$(nproc)"
fi
build=$(cd "$build" && pwd)
out=${out:-$build}
mkdir -p "$out"
out=$(cd "$out" && pwd)

cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache CMAKE_PROJECT_VERSION)
[ -n "$version" ] || { echo "no version in $build/CMakeCache.txt" >&2; exit 1; }
arch=$(dpkg --print-architecture)
# Who answers for the package; set KV930_MAINTAINER when publishing it.
maintainer=${KV930_MAINTAINER:-"KV930 developers <kv930@example.org>"}
# Reproducible dates: the last commit's, where there is one.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr --strip >/dev/null

# Each staged file goes to exactly one package.
program=$work/kv930
kit=$work/kv930-dev
move() { # move <package root> <path under the stage>
    [ -e "$stage/$2" ] || [ -L "$stage/$2" ] || { echo "nothing installed at /$2" >&2; exit 1; }
    mkdir -p "$1/$(dirname "$2")"
    mv "$stage/$2" "$1/$2"
}
for p in usr/bin/kv930 usr/lib/kv930 usr/lib/udev usr/share/applications usr/share/icons \
    usr/share/metainfo usr/share/man; do
    move "$program" "$p"
done
for p in usr/include/kv930 usr/lib/cmake/Kv930 usr/lib/libkv930serial.a usr/lib/libkv930scpi.a; do
    move "$kit" "$p"
done
left=$(find "$stage" -not -type d)
[ -z "$left" ] || { echo "installed but in no package:"$'\n'"$left" >&2; exit 1; }

gzip -9n "$program/usr/share/man/man1/kv930.1"
strip --strip-debug --enable-deterministic-archives "$kit/usr/lib/libkv930serial.a"

for pkg in "$program" "$kit"; do
    name=$(basename "$pkg")
    doc=$pkg/usr/share/doc/$name
    mkdir -p "$doc"
    cp "$root/packaging/debian/copyright" "$doc/copyright"
    {
        echo "$name ($version) unstable; urgency=medium"
        echo
        echo "  * Built from the KV930 sources, version $version."
        echo
        echo " -- $maintainer  $(date -R -u -d "@$epoch")"
    } | gzip -9n >"$doc/changelog.gz"
    # Plain permissions: programs 755, everything else 644.
    find "$pkg" -type d -exec chmod 755 {} +
    find "$pkg" -type f -exec chmod 644 {} +
done
chmod 755 "$program/usr/lib/kv930/kv930"

# Library dependencies of the program and its drivers.
mkdir -p "$work/shlibs/debian"
printf 'Source: kv930\n\nPackage: kv930\nArchitecture: any\n' >"$work/shlibs/debian/control"
mapfile -t elves < <(find "$program/usr/lib/kv930" -type f \( -name kv930 -o -name '*.so' \))
depends=$(cd "$work/shlibs" && dpkg-shlibdeps -O "${elves[@]/#/-e}" 2>/dev/null |
    sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "dpkg-shlibdeps found no dependencies" >&2; exit 1; }
qtmajor=$(cache KV930_QT_MAJOR)
if [ "$qtmajor" = 6 ]; then
    kitqt="qt6-base-dev, qt6-serialport-dev"
else
    kitqt="qtbase5-dev, libqt5serialport5-dev"
fi

control() { # control <package root> <fields...>
    mkdir -p "$1/DEBIAN"
    (cd "$1" && find usr -type f -print0 | sort -z | xargs -0 md5sum >DEBIAN/md5sums)
    {
        printf '%s\n' "${@:2}"
        echo "Installed-Size: $(du -sk --apparent-size "$1/usr" | cut -f1)"
    } >"$1/DEBIAN/control"
}
control "$program" \
    "Package: kv930" "Version: $version" "Architecture: $arch" "Maintainer: $maintainer" \
    "Section: science" "Priority: optional" "Depends: $depends" \
    "Recommends: fonts-dejavu-core, xdg-utils" \
    "Description: desktop companion of the KV930 optical power meter" \
    " Connects to the KV930 handheld optical power meter through a driver plugin," \
    " records live readings (uW, mW, dBm, wavelength, meter clock) into measurement" \
    " items, shows them as a table and a trend chart, downloads the meter's stored" \
    " readings, sets its clock, exports to .xls, PDF and JPG and imports .xls files." \
    " ." \
    " A virtual meter driver is included, so the program works without the meter," \
    " and drivers for laboratory optical power meters (Thorlabs PM100 family over" \
    " USB-TMC or serial, Keysight N774x and 816x over TCP)."
control "$kit" \
    "Package: kv930-dev" "Version: $version" "Architecture: $arch" "Maintainer: $maintainer" \
    "Section: devel" "Priority: optional" \
    "Depends: kv930 (= $version), cmake, g++, $kitqt, libudev-dev" \
    "Description: driver kit of the KV930 power meter program" \
    " Everything a meter maker needs to build a meter driver plugin for the KV930" \
    " program: the driver interface headers, the reading record's source, the Kv930" \
    " CMake package (find_package(Kv930), kv930_add_meter_plugin), the serial" \
    " transport library Kv930::Serial (a serial link over QSerialPort and a USB" \
    " port finder with hot-plug notices) and Kv930::Scpi (SCPI instruments over" \
    " USB-TMC, serial ports and TCP)."

debs=()
for pkg in "$program" "$kit"; do
    deb=$out/$(basename "$pkg")_${version}_${arch}.deb
    SOURCE_DATE_EPOCH=$epoch dpkg-deb --root-owner-group -Zxz --build "$pkg" "$deb" >/dev/null
    debs+=("$deb")
done

if [ "$checks" = 0 ]; then
    printf '%s\n' "${debs[@]}"
    exit 0
fi
# The checks a distribution would make.
lintian --fail-on error "${debs[@]}" || {
    echo "lintian reports errors" >&2
    exit 1
}
appstreamcli validate --no-net "$program/usr/share/metainfo/com.kv930.KV930.metainfo.xml"
desktop-file-validate "$program/usr/share/applications/kv930.desktop"
printf '%s\n' "${debs[@]}"
