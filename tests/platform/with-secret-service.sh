#!/bin/sh
# Runs the given command on a private session bus with its own unlocked secret service (gnome-keyring), its
# keyrings in a temporary home, so that no keyring or daemon of the user's is touched. The bus and the daemon
# end with the command; its exit status is returned.
set -eu
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -m 700 "$home/runtime"
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" \
    XDG_RUNTIME_DIR="$home/runtime"
# No display, so nothing can prompt; no desktop, so QtKeychain takes the Secret Service rather than KWallet.
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_SESSION_VERSION \
    KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
dbus-run-session -- sh -c 'printf test | gnome-keyring-daemon --unlock --components=secrets >/dev/null && "$@"' \
    sh "$@"
