#!/usr/bin/env bash
# Builds the Debian package from a built tree, installs it into an empty root with
# its own package database, and checks what it installed:
#
#   check-package.sh BUILD_DIR
#
# The desktop file and the AppStream metainfo validate, the icon renders, the
# package's dependencies are satisfied on this machine, and the installed
# vellumcast-cli --version runs. Prints the installed files.
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: check-package.sh BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-package.sh: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(find "$work/out" -maxdepth 1 -name 'vellumcast_*.deb' | head -n 1)
[ -n "$deb" ] || fail "cpack made no vellumcast_*.deb"
echo "package: $(basename "$deb")"
depends=$(dpkg-deb --field "$deb" Depends)
echo "depends: $depends"
grep -q 'libqt6widgets6' <<<"$depends" || fail "the library dependencies are missing"
grep -q 'libssl3' <<<"$depends" || fail "libssl3 (Qt's TLS back end) is not a dependency"

# Every dependency is satisfied by this Debian system's packages.
if [ "$(id -u)" -eq 0 ]; then
    dpkg --dry-run --install "$deb" >"$work/dry-run.log" 2>&1 || { cat "$work/dry-run.log" >&2; fail "dependencies not satisfied"; }
fi

# Install into an empty root. Its package database knows nothing, hence --force-depends.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
: > "$root/var/lib/dpkg/status"
force=(--force-depends --force-script-chrootless)
[ "$(id -u)" -eq 0 ] || force+=(--force-not-root)
dpkg --root="$root" --log=/dev/null "${force[@]}" --install "$deb" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; fail "dpkg could not install the package"; }

expect=(
    usr/bin/vellumcast
    usr/bin/vellumcast-cli
    usr/libexec/vellumcast/vellumcast-pdftext
    usr/share/applications/example.quillmark.vellumcast.desktop
    usr/share/icons/hicolor/scalable/apps/example.quillmark.vellumcast.svg
    usr/share/metainfo/example.quillmark.vellumcast.metainfo.xml
    usr/share/man/man1/vellumcast-cli.1.gz
    usr/share/man/man1/vellumcast.1.gz
)
for f in "${expect[@]}"; do
    [ -e "$root/$f" ] || fail "not installed: /$f"
done

desktop-file-validate "$root/usr/share/applications/example.quillmark.vellumcast.desktop" ||
    fail "the desktop file does not validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/example.quillmark.vellumcast.metainfo.xml" >"$work/as.log" 2>&1 ||
    { cat "$work/as.log" >&2; fail "the AppStream metainfo does not validate"; }
rsvg-convert -w 64 -h 64 "$root/usr/share/icons/hicolor/scalable/apps/example.quillmark.vellumcast.svg" -o "$work/icon.png" ||
    fail "the icon does not render"
zcat "$root/usr/share/man/man1/vellumcast-cli.1.gz" | grep -q -- '--password-file' ||
    fail "the manual page of vellumcast-cli does not describe its options"

version=$("$root/usr/bin/vellumcast-cli" --version) || fail "the installed vellumcast-cli --version failed"
echo "installed: $version"
grep -qE '^vellumcast-cli [0-9]+\.[0-9]+' <<<"$version" || fail "unexpected version text: $version"
"$root/usr/bin/vellumcast" --version >/dev/null || fail "the installed vellumcast --version failed"
# The PDF text helper runs where the programs look for it; what is not a PDF it says is unreadable (4).
status=0
printf 'not a PDF' | "$root/usr/libexec/vellumcast/vellumcast-pdftext" >/dev/null || status=$?
[ "$status" -eq 4 ] || fail "the installed vellumcast-pdftext answered $status for a file that is not a PDF"

echo "files:"
dpkg --root="$root" --listfiles vellumcast | while IFS= read -r f; do
    [ -f "$root$f" ] && echo "  $f"
done
