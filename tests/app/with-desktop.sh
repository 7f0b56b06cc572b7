#!/bin/sh
# Runs the given command on a desktop of its own: a virtual X server (Xvfb) on a free display, the trayer system
# tray on it and a private session bus, with a temporary home so that nothing of the user's is touched. The tray
# and the X server end with the command, the bus with dbus-run-session; the command's exit status is returned.
set -eu
home=$(mktemp -d)
xvfb=
tray=
cleanup() {
    [ -z "$tray" ] || kill "$tray" 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mkdir -m 700 "$home/runtime"
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" \
    XDG_RUNTIME_DIR="$home/runtime"
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_SESSION_VERSION \
    KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID

# Xvfb takes the first free display number and writes it, followed by a newline, once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$home/display" 2>"$home/xvfb.log" &
xvfb=$!
tries=0
until grep -q '^[0-9][0-9]*$' "$home/display" 2>/dev/null; do
    tries=$((tries + 1))
    if [ "$tries" -gt 200 ] || ! kill -0 "$xvfb" 2>/dev/null; then
        echo "with-desktop.sh: Xvfb did not start" >&2
        cat "$home/xvfb.log" >&2
        exit 1
    fi
    sleep 0.05
done
export DISPLAY=":$(cat "$home/display")"

# The test itself waits, bounded, until the tray has taken the display's system tray selection.
trayer --edge top --align right --widthtype request --height 24 --SetDockType true >"$home/trayer.log" 2>&1 &
tray=$!

status=0
QT_QPA_PLATFORM=xcb dbus-run-session -- "$@" || status=$?
exit "$status"
