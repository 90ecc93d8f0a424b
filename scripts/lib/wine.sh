# Wine set-up shared by the scripts that run the Windows build (sourced, not run):
#   wineEnvironment BUILD   exports the Wine settings for the prefix BUILD/.wine
#   wineStart BUILD         makes the prefix on first use, then starts a fresh wineserver and
#                           Wine's services with their own stdin/stdout (started by a program
#                           under ctest or a pipe instead, they would hold its pipes open)
#   wineStop                ends the wineserver of the prefix

wineEnvironment() {
    # Wine wants an absolute prefix.
    export WINEPREFIX="$(realpath -m "$1")/.wine"
    export WINEDEBUG=-all
    export WINEARCH=win64
    export WINEDLLOVERRIDES="mscoree,mshtml="
}

wineStart() {
    local build=$1
    wineEnvironment "$build"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "creating the Wine prefix $WINEPREFIX"
        mkdir -p "$build"
        {
            wineboot -i
            wineserver -w
            # Without a window manager every dialog close waits 2 s unless windows are unmanaged.
            wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
            wineserver -w
        } </dev/null >"$build/wine-prefix.log" 2>&1 || {
            cat "$build/wine-prefix.log" >&2
            echo "creating the Wine prefix failed" >&2
            return 1
        }
    fi
    # A wineserver left running for this prefix may have been started without a display; Wine's
    # desktop would then stay headless and every window creation fail.
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
    wineserver -p </dev/null >/dev/null 2>&1
    wine wineboot </dev/null >/dev/null 2>&1
}

wineStop() {
    wineserver -k </dev/null >/dev/null 2>&1 || true
}
