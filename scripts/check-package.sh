#!/bin/sh
# Builds the Debian package with CPack and checks it as a user's machine would meet it: what it
# holds, what it depends on, and that the programs installed from it run.
#
#   scripts/check-package.sh [BUILD_DIR] [--system]
#
# By default the package is installed into a scratch root (dpkg --root, the dependencies taken
# from this machine); --system installs it for real with dpkg -i (for a throw-away container),
# then removes it again.
set -eu

src=$(cd "$(dirname "$0")/.." && pwd)
build="$src/build-package"
system=no
for arg in "$@"; do
    case "$arg" in
    --system) system=yes ;;
    *) build=$arg ;;
    esac
done

fail() {
    echo "check-package: $*" >&2
    exit 1
}

launcher=""
if command -v ccache >/dev/null 2>&1; then launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"; fi
# The package needs only the programs: no tests, so the build stays small.
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVINDARU_TESTS=OFF $launcher >/dev/null
cmake --build "$build" -j"${JOBS:-2}"
rm -f "$build"/vindaru_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/vindaru_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "cpack made no .deb in $build"
echo "package: $deb"

listing=$(dpkg-deb -c "$deb")
for path in ./usr/bin/vindaru ./usr/bin/vindaru-cli ./usr/share/applications/vindaru.desktop \
    ./usr/share/icons/hicolor/scalable/apps/vindaru.svg ./usr/share/icons/hicolor/48x48/apps/vindaru.png \
    ./usr/share/man/man1/vindaru.1.gz ./usr/share/man/man1/vindaru-cli.1.gz; do
    echo "$listing" | grep -q " $path\$" || fail "the package lacks $path"
done
echo "$listing" | grep -q '/FileSetting.txt$' || fail "the package lacks the default FileSetting.txt"

depends=$(dpkg-deb -f "$deb" Depends)
for name in libqt6widgets6 libpcre2-8-0; do
    echo "$depends" | grep -q "$name" || fail "Depends does not name $name: $depends"
done

if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$src/packaging/vindaru.desktop"
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if [ "$system" = yes ]; then
    dpkg -i "$deb" || apt-get install -f -y
    prefix=""
else
    # A dpkg database of its own; the dependencies are this machine's libraries.
    mkdir -p "$scratch/var/lib/dpkg/info" "$scratch/var/lib/dpkg/updates"
    : >"$scratch/var/lib/dpkg/status"
    dpkg --root="$scratch" --force-depends --force-not-root --log=/dev/null -i "$deb" >/dev/null 2>&1 ||
        fail "dpkg could not install the package into a scratch root"
    prefix=$scratch
    # Every dependency must be one this machine could install.
    for name in $(echo "$depends" | tr ',' '\n' | sed 's/(.*//; s/|.*//; s/ //g'); do
        apt-cache show "$name" >/dev/null 2>&1 || dpkg-query -W "$name" >/dev/null 2>&1 ||
            fail "dependency $name is not known to apt here"
    done
fi
version=$(dpkg-deb -f "$deb" Version)
"$prefix/usr/bin/vindaru-cli" --version | grep -qx "vindaru-cli $version" || fail "vindaru-cli --version"
"$prefix/usr/bin/vindaru" --version | grep -qx "vindaru $version" || fail "vindaru --version"
MANWIDTH=80 man -l "$prefix/usr/share/man/man1/vindaru-cli.1.gz" >/dev/null 2>&1 || fail "man page does not render"
if [ "$system" = yes ]; then dpkg -r vindaru >/dev/null; fi
echo "check-package: $(basename "$deb") holds both programs, the desktop entry, icon, man pages and signature file; installed, vindaru-cli --version says $version"
