#!/usr/bin/env bash
# Builds the Debian package: configures and builds Release for /usr in
# $BUILD_DIR (default build-package, apart from the development tree), runs
# cpack, copies the package to build/, then checks it: its contents
# (dpkg-deb -c), lintian, desktop-file-validate and appstreamcli validate.
# Exits non-zero on a build failure, a missing file or an error of a checker
# (their warnings are printed).
#
#   bash scripts/package.sh              (a user other than root: sudo bash ...)
#   apt install ./build/kelvarin_*.deb
#
# SKIP_DEPS=1 skips scripts/install-deps.sh --packaging (the packaging tools
# are installed here only, not for building and testing).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
BUILD_DIR="${BUILD_DIR:-build-package}"
OUT_DIR="${OUT_DIR:-build}"
APP_ID="io.github.kelvarin.Kelvarin"
ICON_SIZES=(16 22 24 32 48 64 128 256)

if [ "${SKIP_DEPS:-0}" != 1 ]; then
    bash scripts/install-deps.sh --packaging
fi

# Debian's hardening flags (as a Debian build would use them); no debug
# information, the package's binary is stripped anyway.
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
export DEB_CXXFLAGS_MAINT_STRIP="-g"
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_CXX_FLAGS="$CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS"
cmake --build "$BUILD_DIR" --parallel "${JOBS:-$(nproc)}" --target kelvarin kelvarin_packaging_files

rm -f "$BUILD_DIR"/kelvarin_*.deb
(cd "$BUILD_DIR" && cpack -G DEB)
shopt -s nullglob
debs=("$BUILD_DIR"/kelvarin_*.deb)
[ "${#debs[@]}" -eq 1 ] || { echo "package: expected one kelvarin_*.deb in $BUILD_DIR" >&2; exit 1; }
mkdir -p "$OUT_DIR"
rm -f "$OUT_DIR"/kelvarin_*.deb
cp "${debs[0]}" "$OUT_DIR/"
DEB="$ROOT/$OUT_DIR/$(basename "${debs[0]}")"
echo "== package: $DEB"

errors=0
fail() {
    echo "package: $*" >&2
    errors=$((errors + 1))
}

# --- contents ----------------------------------------------------------------
listing="$(dpkg-deb -c "$DEB" | awk '{print $NF}')"
expected=(
    ./usr/bin/kelvarin
    ./usr/bin/kelvarin-cli
    "./usr/share/applications/$APP_ID.desktop"
    "./usr/share/metainfo/$APP_ID.metainfo.xml"
    "./usr/share/icons/hicolor/scalable/apps/$APP_ID.svg"
    ./usr/share/man/man1/kelvarin.1.gz
    ./usr/share/man/man1/kelvarin-cli.1.gz
    ./usr/share/doc/kelvarin/copyright
    ./usr/share/doc/kelvarin/changelog.Debian.gz
    ./usr/share/lintian/overrides/kelvarin
)
for size in "${ICON_SIZES[@]}"; do
    expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/$APP_ID.png")
done
for path in "${expected[@]}"; do
    grep -qxF "$path" <<<"$listing" || fail "missing from the package: $path"
done
dpkg-deb -c "$DEB" | grep -E '^-' | awk '$2 != "root/root" {print}' | grep -q . &&
    fail "files not owned by root"

depends="$(dpkg-deb -f "$DEB" Depends)"
echo "Depends: $depends"
for dep in libqt6widgets6 libqt6serialport6 qt6-qpa-plugins fonts-wqy-microhei; do
    grep -q "\b$dep\b" <<<"$depends" || fail "Depends lacks $dep"
done

tree="$(mktemp -d)"
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$DEB" "$tree"
file "$tree/usr/bin/kelvarin" | grep -Eq 'ELF 64-bit.*, stripped' || fail "the program is not a stripped ELF binary"
for size in "${ICON_SIZES[@]}"; do
    png="$tree/usr/share/icons/hicolor/${size}x${size}/apps/$APP_ID.png"
    [ -f "$png" ] || continue
    file "$png" | grep -q "PNG image data, $size x $size" || fail "$png is not $size x $size"
done

# --- checkers ----------------------------------------------------------------
echo "== desktop-file-validate"
desktop-file-validate "$tree/usr/share/applications/$APP_ID.desktop" || fail "desktop-file-validate found errors"

echo "== appstreamcli validate"
appstreamcli validate --no-net --explain "$tree/usr/share/metainfo/$APP_ID.metainfo.xml" ||
    fail "appstreamcli validate found errors"
appstreamcli validate-tree --no-net "$tree" || fail "appstreamcli validate-tree found errors"

echo "== lintian"
lintian --fail-on error --display-level ">=info" "$DEB" || fail "lintian found errors"

if [ "$errors" -ne 0 ]; then
    echo "package: $errors problem(s) with $DEB" >&2
    exit 1
fi
echo "package: $DEB checked"
