# Shared set-up of the Wine test layer, sourced by run-wine-tests and by the lab:
# a fresh Wine prefix per run and a private Xvfb display, both stopped by PID.

# Starts Xvfb on the first free display and exports DISPLAY. Sets XVFB_PID.
start_xvfb() {
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    local i=0
    while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
}

stop_xvfb() {
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=""
}

# Makes a fresh prefix in the given directory and exports WINEPREFIX for it.
# Shortcuts made in the prefix stay there: no menu entries or icons on the host.
make_prefix() {
    export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    # Without a window manager on the private display, Wine draws the caption
    # and frame itself, so screenshots show what a user sees.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
    # This Wine does not find its own fonts (Marlett for the caption buttons, MS Sans
    # Serif and System for the dialogs); it loads those in the prefix's font folder.
    cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
    wineserver -w
}

# Stops the prefix's wineserver (and so every Wine process of that prefix).
stop_prefix() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null
    true
}
