#!/usr/bin/env bash
# scripts/check-install.sh <build dir>: installs the build to a temporary prefix and uses it as
# an application would: builds an example through the CMake package and one through
# pkg-config, runs them and the installed tools against the installed gevcamsim on loopback,
# then installs the Python package with pip and runs its tests against the same prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
. "$root/tests/tools/simulator.sh"
trap 'stop_simulator; rm -rf "$work"' EXIT
prefix=$work/prefix

echo "== install to a temporary prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libKavroGigEVisionLib.so.0' | head -n 1)")
for f in "$libdir/libKavroGigEVisionLib.so" include/KavroGigEVisionLib.h \
    share/KavroGigEVisionLib/GenApiSchema_Version_1_1.xsd \
    share/KavroGigEVisionLib/PreProcess_4.xsl bin/gevtool bin/gevcamsim \
    share/man/man1/gevtool.1 share/man/man1/gevcamsim.1 \
    "$libdir/pkgconfig/KavroGigEVisionLib.pc" \
    "$libdir/cmake/KavroGigEVisionLib/KavroGigEVisionLibConfig.cmake"; do
    case $f in /*) path=$f ;; *) path=$prefix/$f ;; esac
    [ -e "$path" ] || { echo "not installed: $f" >&2; exit 1; }
done
readelf -d "$libdir/libKavroGigEVisionLib.so" | grep "SONAME.*libKavroGigEVisionLib.so.0" >/dev/null

echo "== consumer through the CMake package"
cmake -S "$root/examples/consumer" -B "$work/consumer" -G Ninja \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$work/consumer" >/dev/null

echo "== consumer through pkg-config"
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
cc -std=c11 -D_DEFAULT_SOURCE -Wall -Wextra -Werror "$root/examples/discover_and_open.c" \
    $(pkg-config --cflags --libs KavroGigEVisionLib) -Wl,-rpath,"$libdir" \
    -o "$work/discover_and_open"

echo "== installed programs against the installed gevcamsim"
start_simulator "$prefix/bin/gevcamsim" 2 --event-interval 100
a=${SIM_ADDRESSES[0]}
# The consumer loads the installed library, which finds the installed data folder by itself.
"$work/consumer/features" "$a" | grep "image 320x240 Mono8" >/dev/null
"$work/consumer/grab_to_file" "$a" "$work/image.pgm" | grep "5 images" >/dev/null
"$work/discover_and_open" "$a" | grep "opened KSC-1000" >/dev/null
"$prefix/bin/gevtool" get -a "$a" DeviceSerialNumber | grep SIM00001 >/dev/null
# Without the data folder, the log says where the files were looked for (unless the configured
# prefix, the library's second place to look, holds an installed copy).
configured=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
if [ ! -e "$configured/share/KavroGigEVisionLib" ]; then
    mv "$prefix/share/KavroGigEVisionLib" "$work/moved-data"
    { "$prefix/bin/gevtool" get -v -a "$a" Width 2>&1 || true; } |
        grep "Can't find GenApiSchema_Version_1_1.xsd in \"$prefix/bin\" nor in the data folder" \
            >/dev/null
    mv "$work/moved-data" "$prefix/share/KavroGigEVisionLib"
fi

echo "== Python package"
python=/usr/bin/python3
[ -x "$python" ] || python=python3
"$python" -m pip install --quiet --root-user-action=ignore --no-build-isolation --no-deps --no-index \
    --target "$work/python" "$root/python"
# The package finds the library through the loader path, the simulator by its variable.
(cd "$work" && PYTHONPATH="$work/python" LD_LIBRARY_PATH="$libdir" \
    KAVRO_GEVCAMSIM="$prefix/bin/gevcamsim" "$python" -m pytest -q -p no:cacheprovider \
    "$root/python/tests")
echo "install checks passed"
