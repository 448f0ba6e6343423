#!/usr/bin/env bash
# Builds the Debian package batchmp3_<version>_<arch>.deb with CPack's DEB generator.
#   scripts/package.sh                  a Release build of its own in build-package/, with
#                                       Debian's hardening flags; the package lands there
#   scripts/package.sh BUILD_DIR [OUT]  packages a tree already built (as the tests do) into
#                                       OUT (default BUILD_DIR)
# Prints the package's path on the last line.
set -euo pipefail
cd "$(dirname "$0")/.."

if (($# == 0)); then
    scripts/install-deps.sh
    build=build-package
    out=$build
    # Debian's flags, all hardening on: fortified, stack-protected, relocations read-only and
    # bound at start. But no debugging information: the component libraries travel inside the
    # program, where no strip reaches them, and every start writes them out.
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    cxxflags=" $(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS) "
    ldflags=$(dpkg-buildflags --get LDFLAGS)
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_CXX_FLAGS="${cxxflags// -g / }" \
        -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" \
        -DCMAKE_MODULE_LINKER_FLAGS="$ldflags"
    cmake --build "$build" -j"$(nproc)"
else
    build=$1
    out=${2:-$build}
fi
build=$(realpath "$build")
mkdir -p "$out"
out=$(realpath "$out")
[ -f "$build/CPackConfig.cmake" ] || { echo "package.sh: $build is no configured build tree" >&2; exit 2; }

# The libraries every file needs, the two component libraries the program carries inside it
# included: they are written out and loaded at every start. dpkg-shlibdeps wants a source
# package's control file; the private runtime library is found beside the programs.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/debian"
printf 'Source: batchmp3\n\nPackage: batchmp3\nArchitecture: any\n' > "$work/debian/control"
bin="$build/bin"
shlibs=$(cd "$work" && dpkg-shlibdeps -O -l"$bin" --ignore-missing-info \
    -e"$bin/batchmp3" -e"$bin/regsvr32" -e"$bin/libruntime.so" \
    -e"$bin/Mp3Enc.ocx" -e"$bin/ZTbutton.ocx" 2>"$work/shlibdeps.log") || {
    cat "$work/shlibdeps.log" >&2
    exit 1
}
depends=${shlibs#shlibs:Depends=}

base=$(sed -n 's/^set(CPACK_DEBIAN_PACKAGE_DEPENDS "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
cpack --config "$build/CPackConfig.cmake" -B "$work/cpack" \
    -D CPACK_DEBIAN_PACKAGE_DEPENDS="$depends, $base" >"$work/cpack.log" || {
    cat "$work/cpack.log" >&2
    exit 1
}
deb=$(find "$work/cpack" -maxdepth 1 -name 'batchmp3_*.deb')
mv "$deb" "$out/"
echo "$out/$(basename "$deb")"
