#!/usr/bin/env bash
# Runs one command on a headless Wayland desktop of its own: sway (headless output 800x600, pixman),
# its XWayland, pipewire and the screenshot portal (xdg-desktop-portal with the wlr backend, and the
# gtk one for Access), all on a session bus of their own. A desktop that cannot start is a failure
# with its reason, never a skip.
#
#   wayland-session.sh [--copy FILE]... -- [NAME=VALUE]... PROGRAM [ARG]...
#
# sway refuses to run as root: as root the script makes an unprivileged user (linvera-wl) when
# missing and runs the desktop and the command as that user, from copies of the --copy files in a
# scratch folder that user owns (a PROGRAM named like a copied file is that copy). The scratch folder
# goes when the script ends; nothing of the build tree is changed.
set -euo pipefail

user=linvera-wl
start_timeout=30

if [ "${1:-}" = "--inside" ]; then
    shift
    scratch=$1
    shift
    export HOME=$scratch/home TMPDIR=$scratch/tmp XDG_RUNTIME_DIR=$scratch/run
    export XDG_CONFIG_HOME=$scratch/home/.config XDG_DATA_HOME=$scratch/home/.local/share
    export XDG_CACHE_HOME=$scratch/home/.cache
    mkdir -p "$HOME" "$TMPDIR" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
    mkdir -m 0700 -p "$XDG_RUNTIME_DIR"
    export XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland
    unset WAYLAND_DISPLAY DISPLAY
    logs=$scratch/logs
    mkdir -p "$logs"
    pids=()
    finish() {
        local status=$?
        for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
            kill "${pids[$i]}" 2>/dev/null || true
        done
        wait 2>/dev/null || true
        if [ "$status" -ne 0 ]; then
            for f in "$logs"/*.log; do
                [ -s "$f" ] || continue
                echo "---- $(basename "$f") (last lines)" >&2
                tail -n 20 "$f" >&2
            done
        fi
        exit "$status"
    }
    trap finish EXIT
    fail() {
        echo "wayland-session: $*" >&2
        exit 1
    }
    # Waits (bounded) until the test command succeeds.
    wait_for() {
        local what=$1
        shift
        local deadline=$((SECONDS + start_timeout))
        until "$@"; do
            [ $SECONDS -lt $deadline ] || fail "$what did not come up within ${start_timeout} s"
            sleep 0.2
        done
    }

    cat >"$scratch/sway.conf" <<CONF
output HEADLESS-1 resolution 800x600 position 0 0 bg #336699 solid_color
default_border none
default_floating_border none
focus_follows_mouse no
xwayland enable
for_window [title="^linvera-pattern\$"] floating enable, move absolute position 200 100
exec sh -c 'echo "\$DISPLAY" > "\$XDG_RUNTIME_DIR/x-display.tmp" && mv "\$XDG_RUNTIME_DIR/x-display.tmp" "\$XDG_RUNTIME_DIR/x-display"'
CONF
    WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
        sway -c "$scratch/sway.conf" >"$logs/sway.log" 2>&1 &
    pids+=($!)
    sway_pid=$!
    socket_ready() {
        kill -0 "$sway_pid" 2>/dev/null || fail "sway ended at start"
        compgen -G "$XDG_RUNTIME_DIR/wayland-[0-9]" >/dev/null && [ -s "$XDG_RUNTIME_DIR/x-display" ]
    }
    wait_for "sway" socket_ready
    socket=$(compgen -G "$XDG_RUNTIME_DIR/wayland-[0-9]" | head -n 1)
    export WAYLAND_DISPLAY=${socket##*/}
    DISPLAY=$(cat "$XDG_RUNTIME_DIR/x-display")
    export DISPLAY
    [ -n "$DISPLAY" ] || fail "sway started no XWayland (is xwayland installed?)"

    dbus-update-activation-environment XDG_RUNTIME_DIR WAYLAND_DISPLAY DISPLAY XDG_CURRENT_DESKTOP \
        XDG_SESSION_TYPE
    # The wlr backend aborts without pipewire.
    pipewire >"$logs/pipewire.log" 2>&1 &
    pids+=($!)
    wait_for "pipewire" test -S "$XDG_RUNTIME_DIR/pipewire-0"
    /usr/libexec/xdg-desktop-portal-wlr >"$logs/portal-wlr.log" 2>&1 &
    pids+=($!)
    /usr/libexec/xdg-desktop-portal >"$logs/portal.log" 2>&1 &
    pids+=($!)
    screenshot_ready() {
        gdbus introspect --session --dest org.freedesktop.portal.Desktop \
            --object-path /org/freedesktop/portal/desktop 2>/dev/null |
            grep -q 'interface org.freedesktop.portal.Screenshot'
    }
    wait_for "the screenshot portal" screenshot_ready

    # The command's own folders are its sandbox's; WAYLAND_DISPLAY as a path survives a changed
    # XDG_RUNTIME_DIR.
    export WAYLAND_DISPLAY=$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY
    set +e
    env "$@"
    status=$?
    set -e
    exit $status
fi

copies=()
while [ $# -gt 0 ]; do
    case $1 in
    --copy)
        copies+=("$2")
        shift 2
        ;;
    --)
        shift
        break
        ;;
    *)
        echo "usage: wayland-session.sh [--copy FILE]... -- [NAME=VALUE]... PROGRAM [ARG]..." >&2
        exit 2
        ;;
    esac
done
[ $# -gt 0 ] || { echo "wayland-session.sh: no command" >&2; exit 2; }

for tool in sway Xwayland pipewire dbus-run-session dbus-update-activation-environment gdbus \
    /usr/libexec/xdg-desktop-portal /usr/libexec/xdg-desktop-portal-wlr /usr/libexec/xdg-desktop-portal-gtk; do
    if ! command -v "$tool" >/dev/null; then
        echo "wayland-session: $tool is missing (scripts/setup.sh --test installs the desktop)" >&2
        exit 1
    fi
done

# The wlr backend writes its picture to this fixed name; one another user left there cannot be
# replaced and every request would fail.
if [ -e /tmp/out.png ] && [ "$(stat -c %U /tmp/out.png)" != "$( [ "$(id -u)" -eq 0 ] && echo "$user" || id -un)" ]; then
    echo "wayland-session: /tmp/out.png belongs to $(stat -c %U /tmp/out.png); the portal cannot write its picture" >&2
    exit 1
fi

self=$(readlink -f "$0")
as_user=()
owner=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
    if ! id "$user" >/dev/null 2>&1; then
        useradd --system --create-home --shell /usr/sbin/nologin "$user"
    fi
    owner=$user
    as_user=(runuser -u "$user" --)
fi
scratch=$(mktemp -d /tmp/linvera-wayland-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/bin"
for f in "${copies[@]}"; do
    cp "$f" "$scratch/bin/"
done
cp "$self" "$scratch/bin/wayland-session.sh"
chmod -R u+rwX,go-w "$scratch"
chmod 0755 "$scratch"

# The command as the user runs it: copied programs by their copy; LSAN's suppressions copied too.
command=()
for word in "$@"; do
    if [ -e "$scratch/bin/$(basename "$word")" ] && [ -f "$word" ]; then
        command+=("$scratch/bin/$(basename "$word")")
    else
        command+=("$word")
    fi
done
passed=(PATH="$PATH" LANG="${LANG:-C.UTF-8}" LINVERA_PROGRAM_DIR="$scratch/bin")
for name in ASAN_OPTIONS UBSAN_OPTIONS QT_QPA_PLATFORM QT_SCALE_FACTOR; do
    if [ -n "${!name:-}" ]; then
        passed+=("$name=${!name}")
    fi
done
if [ -n "${LSAN_OPTIONS:-}" ]; then
    lsan=$LSAN_OPTIONS
    if [[ $lsan =~ suppressions=([^:]*) ]] && [ -f "${BASH_REMATCH[1]}" ]; then
        cp "${BASH_REMATCH[1]}" "$scratch/bin/lsan.supp"
        lsan=${lsan/${BASH_REMATCH[1]}/$scratch/bin/lsan.supp}
    fi
    passed+=(LSAN_OPTIONS="$lsan")
fi
chown -R "$owner" "$scratch"

set +e
"${as_user[@]}" env -i "${passed[@]}" dbus-run-session -- \
    "$scratch/bin/wayland-session.sh" --inside "$scratch" "${command[@]}"
status=$?
set -e
exit $status
