#!/usr/bin/env bash
# Installs the Debian packages the build and the program need (only the missing ones); with --test
# also what only the tests need.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins libgl-dev
    # Qt's own texts (buttons, socket errors) in Japanese under a Japanese locale.
    qt6-translations-l10n
    libsqlite3-dev sqlite3 libpcre2-dev
    # The verdict on a destination: IDNA and the spoof checker (UTS #39).
    libicu-dev
    libx11-dev libxcb1-dev
    fonts-noto-cjk
    dbus dbus-x11 libglib2.0-bin
)
# Virtual screens, formatting, loopback clients and independent checkers of the tests.
test_packages=(
    xvfb xauth
    clang-format curl python3
    chromium firefox-esr nodejs
    # The capture tests move the pointer through the XTest extension; one runs a window manager.
    libxcb-xtest0-dev openbox
    # A headless Wayland desktop with the screenshot portal, for the capture through the portal.
    sway xwayland xdg-desktop-portal xdg-desktop-portal-wlr xdg-desktop-portal-gtk pipewire grim qt6-wayland
    # Metadata, desktop entry, manual and completion checks of the package.
    appstream desktop-file-utils man-db bash-completion
    # The fuzz targets: clang with its libFuzzer runtime.
    clang libclang-rt-14-dev
)

if [ "${1:-}" = "--test" ]; then
    packages+=("${test_packages[@]}")
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root=()
    if [ "$(id -u)" -ne 0 ]; then
        as_root=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${as_root[@]}" apt-get update -qq
    "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
