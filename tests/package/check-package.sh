#!/usr/bin/env bash
# Builds the Debian package from a built tree, checks its control data and file list, unpacks it into
# a scratch root, validates its desktop entry, metainfo and manual pages there, and lets the unpacked
# linvera convert a URL by a local rule in a home of its own.
# Usage: check-package.sh BUILD_DIR WORK_DIR
set -euo pipefail

build=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, got: ${debs[*]}"
deb=${debs[0]}

# Control data: name, version, computed library dependencies beside the named ones.
info=$(dpkg-deb -I "$deb")
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = halvex-linvera ] || fail "Package: $(field Package)"
version=$(grep -m1 'project(Kemo VERSION' "$(dirname "$0")/../../CMakeLists.txt" | sed 's/.*VERSION \([0-9.]*\).*/\1/')
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), project $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
depends=$(field Depends)
for dep in libqt6core6 libqt6widgets6 libqt6dbus6 libqt6network6 libsqlite3-0 libc6 qt6-qpa-plugins \
    qt6-translations-l10n; do
    grep -qE "(^|, )$dep( |,|$)" <<<"$depends" || fail "Depends lacks $dep: $depends"
done
grep -q '^ Description: ' <<<"$info" || fail "no description"
# Capture on Wayland desktops goes through the screenshot portal.
grep -qE "(^|, )xdg-desktop-portal( |,|$)" <<<"$(field Recommends)" || fail "Recommends: $(field Recommends)"

# File list: everything under /usr, owned by root, and the expected files present.
list=$(dpkg-deb -c "$deb")
if awk '{print $6}' <<<"$list" | grep -v '^\./usr/\|^\./$\|^\./usr$' | grep -q .; then
    fail "files outside /usr: $(awk '{print $6}' <<<"$list" | grep -v '^\./usr')"
fi
if awk '{print $2}' <<<"$list" | grep -v '^root/root$' | grep -q .; then
    fail "files not owned by root"
fi
expected=(
    ./usr/bin/H-Linvera ./usr/bin/linvera ./usr/bin/linvera-reg
    ./usr/lib/halvex-linvera/H-Linvera ./usr/lib/halvex-linvera/H-LinveraHelper
    ./usr/lib/halvex-linvera/linvera ./usr/lib/halvex-linvera/linvera-reg
    ./usr/lib/halvex-linvera/linvera-native-host
    ./usr/lib/halvex-linvera/tinyurls.txt ./usr/lib/halvex-linvera/picturls.txt
    ./usr/lib/halvex-linvera/notice.xml ./usr/lib/halvex-linvera/trackers.json
    ./usr/share/applications/halvex-linvera.desktop
    ./usr/share/dbus-1/services/HVXLinvera.Linvera.service
    ./usr/share/dbus-1/services/HVXLinveraHelper.HVXLinveraHelperClass.service
    ./usr/share/icons/hicolor/scalable/apps/halvex-linvera.svg
    ./usr/share/metainfo/com.halvex.linvera.metainfo.xml
    ./usr/share/man/man1/H-Linvera.1.gz ./usr/share/man/man1/H-LinveraHelper.1.gz
    ./usr/share/man/man1/linvera.1.gz ./usr/share/man/man1/linvera-reg.1.gz
    ./usr/share/man/man1/linvera-native-host.1.gz
    ./usr/share/man/ja/man1/H-Linvera.1.gz ./usr/share/man/ja/man1/linvera.1.gz
    ./usr/share/bash-completion/completions/linvera ./usr/share/bash-completion/completions/linvera-reg
    ./usr/share/halvex-linvera/extension/chromium/manifest.json
    ./usr/share/halvex-linvera/extension/firefox/manifest.json
    # Where Debian's Chromium wrapper and Firefox load extensions shipped by packages.
    ./usr/share/chromium/extensions/halvex-linvera/manifest.json
    "./usr/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/linvera@halvex.example/manifest.json"
    ./usr/share/doc/halvex-linvera/copyright ./usr/share/doc/halvex-linvera/changelog.gz
)
# grep reads to the end: with -q it would leave awk writing into a closed pipe, and pipefail would
# then report a file that is there as missing.
paths=$(awk '{print $6}' <<<"$list")
for path in "${expected[@]}"; do
    grep -xF "$path" <<<"$paths" >/dev/null || fail "missing $path"
done
grep -q '^lrwxrwxrwx .* \./usr/bin/linvera -> \.\./lib/halvex-linvera/linvera$' <<<"$list" ||
    fail "usr/bin/linvera is not a link into the program folder"

# Unpacked: the files name the installed program folder and validate.
root=$work/root
dpkg-deb -x "$deb" "$root"
grep -qx 'Exec=/usr/lib/halvex-linvera/H-Linvera -- %u' "$root/usr/share/applications/halvex-linvera.desktop" ||
    fail "desktop entry Exec: $(grep Exec= "$root/usr/share/applications/halvex-linvera.desktop")"
grep -qx 'Exec=/usr/lib/halvex-linvera/H-Linvera -Embedding' "$root/usr/share/dbus-1/services/HVXLinvera.Linvera.service" ||
    fail "bus service Exec"
desktop-file-validate "$root/usr/share/applications/halvex-linvera.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/com.halvex.linvera.metainfo.xml" ||
    fail "appstreamcli validate"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/com.halvex.linvera.metainfo.xml" ||
    fail "metainfo release is not $version"
for page in "$root"/usr/share/man/man1/*.1.gz "$root"/usr/share/man/ja/man1/*.1.gz; do
    text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -l "$page" 2>/dev/null) || fail "man $page"
    name=$(basename "$page" .1.gz)
    grep -q -- "$name" <<<"$text" || fail "man page $page does not name $name"
done

# The unpacked converter runs from its folder: version, then a local-rule preview logged in its home.
home=$work/home
mkdir -p "$home/Documents/halvex-linvera" "$home/.config"
printf '^http://yt\\.example/(\\w+)$\thttp://video.example/watch?v=(1)\t\r\n' \
    >"$home/Documents/halvex-linvera/tinyurls.txt"
run() {
    env -u LINVERA_PROGRAM_DIR -u XDG_DOCUMENTS_DIR HOME="$home" XDG_CONFIG_HOME="$home/.config" \
        TMPDIR="$home" LC_ALL=C.UTF-8 ASAN_OPTIONS=detect_leaks=0 "$@"
}
[ "$(run "$root/usr/bin/linvera" --version)" = "linvera $version" ] || fail "linvera --version"
out=$(run "$root/usr/bin/linvera" --json http://yt.example/zz9 2>"$work/linvera.err") ||
    { cat "$work/linvera.err" >&2; fail "linvera exit status $?"; }
grep -qF '"afterUrl":"http://video.example/watch?v=zz9"' <<<"$out" || fail "linvera printed: $out"
grep -qF 'http://yt.example/zz9, http://video.example/watch?v=zz9' "$home/Documents/halvex-linvera/log.txt" ||
    fail "no log line"
[ -f "$home/Documents/halvex-linvera/picturls.txt" ] || fail "default picture rules not copied from the package"
# Installs and removes cleanly with dpkg, into a scratch root with a database of its own (the machine's
# own packages are not there, hence --force-depends).
dpkgroot=$work/dpkgroot
mkdir -p "$dpkgroot/var/lib/dpkg/info" "$dpkgroot/var/lib/dpkg/updates"
touch "$dpkgroot/var/lib/dpkg/status"
dpkg_scratch() { dpkg --root="$dpkgroot" --force-not-root --force-script-chrootless "$@" >>"$work/dpkg.log" 2>&1; }
dpkg_scratch --force-depends -i "$deb" || { cat "$work/dpkg.log" >&2; fail "dpkg -i"; }
[ "$(run "$dpkgroot/usr/bin/linvera-reg" --version)" = "linvera-reg $version" ] || fail "installed linvera-reg"
dpkg_scratch -r halvex-linvera || { cat "$work/dpkg.log" >&2; fail "dpkg -r"; }
left=$(find "$dpkgroot" \( -type f -o -type l \) -not -path "$dpkgroot/var/lib/dpkg/*")
[ -z "$left" ] || fail "left after removal: $left"
echo "package ok: $deb"
