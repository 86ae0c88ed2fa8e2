# Shared by scripts/test, scripts/demo and scripts/bench: installs what is missing, builds,
# and runs commands in a throwaway Wine prefix on a virtual X display.
# shellcheck shell=bash

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Where the build trees go (build/i686, build/x86_64).
BUILD_ROOT=${BUILD_ROOT:-$ROOT/build}
PACKAGES="g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 wine wine32:i386
  wine64 xvfb xauth x11-utils cmake make googletest imagemagick procps locales"

log() { printf '== %s\n' "$*" >&2; }

ensure_packages() {
    local missing=() package
    for package in $PACKAGES; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing ${missing[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The shipped program is 32-bit. Where the kernel cannot execute 32-bit code (no IA-32
# emulation, as on some virtual machines) Wine cannot run it either; the tests then run the
# 64-bit build of the same sources under wine64.
choose_test_arch() {
    if timeout 20 /usr/lib/wine/wine --version >/dev/null 2>&1; then
        TEST_ARCH=i686 WINE_LOADER=/usr/lib/wine/wine WINEARCH=win32
        WINESERVER=/usr/lib/wine/wineserver32
    else
        TEST_ARCH=x86_64 WINE_LOADER=/usr/lib/wine/wine64 WINEARCH=win64
        WINESERVER=/usr/lib/wine/wineserver64
    fi
    export TEST_ARCH WINE_LOADER WINEARCH WINESERVER
}

# build ARCH [testing ON|OFF] [cmake options...]: configures and builds build/ARCH.
build() {
    local arch=$1 testing=${2:-ON}
    shift 2 || shift $#
    cmake -S "$ROOT" -B "$BUILD_ROOT/$arch" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING="$testing" "$@" >/dev/null
    cmake --build "$BUILD_ROOT/$arch" -j "$(nproc)" -- --no-print-directory >/dev/null
}

# Builds the shipped 32-bit program and the build the tests run.
build_all() {
    choose_test_arch
    if [ "$TEST_ARCH" = i686 ]; then
        build i686 ON
    else
        build i686 OFF
        build x86_64 ON -DSHIPPED_EXE="$BUILD_ROOT/i686/bin/uninstall.exe"
    fi
}

# Starts Xvfb (unless keep_display is set and a display exists), a persistent wineserver
# and a fresh prefix under a temporary folder, sealed off from the host (seal_prefix), with
# HOME inside the temporary folder. stop_wine_env undoes all of it.
start_wine_env() {
    WINE_TMP=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-wine.XXXXXX")
    # Wine writes menus, desktop entries and icons below HOME and the XDG folders, and links
    # the prefix's shell folders to HOME: all of them stay inside the temporary folder.
    export HOME=$WINE_TMP/home XDG_CONFIG_HOME=$WINE_TMP/home/.config
    export XDG_DATA_HOME=$WINE_TMP/home/.local/share XDG_CACHE_HOME=$WINE_TMP/home/.cache
    mkdir -p "$HOME"
    export WINEPREFIX=$WINE_TMP/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
    if [ -z "${keep_display:-}" ] || [ -z "${DISPLAY:-}" ]; then
        local n=90
        while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
        XVFB_PID=$!
        export DISPLAY=":$n"
        local tries=0
        until [ -e "/tmp/.X11-unix/X$n" ] || [ $tries -ge 100 ]; do sleep 0.1; tries=$((tries + 1)); done
    fi
    trap stop_wine_env EXIT
    mkdir -p "$WINEPREFIX"
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    # Boot the prefix before any test runner's pipes exist: Wine's service processes
    # would inherit them and keep the runner waiting.
    "$WINE_LOADER" cmd /c exit </dev/null >/dev/null 2>&1
    # Without a window manager on the virtual display, Wine draws the window frames itself.
    "$WINE_LOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    # A crashing test program must end, not wait for a debugger dialog.
    "$WINE_LOADER" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        </dev/null >/dev/null 2>&1
    "$WINE_LOADER" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f \
        </dev/null >/dev/null 2>&1 || true
    seal_prefix
    build_test_locale
}

# A Japanese locale of the run's own, for the tests that run in code page 932 (Wine takes a
# process's code page from its Unix locale): scripts/wine-run selects it for a test whose
# QZ_LOCALE names it.
build_test_locale() {
    export QZ_LOCPATH=$WINE_TMP/locale
    mkdir -p "$QZ_LOCPATH"
    localedef -i ja_JP -f UTF-8 "$QZ_LOCPATH/ja_JP.UTF-8" >/dev/null 2>&1 ||
        [ -e "$QZ_LOCPATH/ja_JP.UTF-8/LC_CTYPE" ] || log "could not build the ja_JP.UTF-8 locale"
}

# Removes every way out of the prefix: the drive letters and devices other than C: (Z: maps
# the host's root) and every link that leads outside the prefix, at any depth (Wine links
# the shell folders to HOME), which becomes a plain folder where it was one. The tests stage
# files in those folders and aim hostile logs at them; nothing may reach the host's files.
# Wine's mount manager keeps its drives in the registry and makes their links again when it
# starts: the drives go from there too, and the prefix starts once more without them.
# QZ_SEALED_PREFIX tells the test program that this has been done for this prefix.
seal_prefix() {
    local value link
    find "$WINEPREFIX/dosdevices" -mindepth 1 -maxdepth 1 ! -name c: -exec rm -f {} +
    "$WINE_LOADER" reg query 'HKLM\System\MountedDevices' </dev/null 2>/dev/null | tr -d '\r' |
        awk '$2 ~ /^REG_/ && $1 != "\\DosDevices\\C:" && $3 != "2E2E2F64726976655F6300" { print $1 }' |
        while read -r value; do
            "$WINE_LOADER" reg delete 'HKLM\System\MountedDevices' /v "$value" /f </dev/null >/dev/null 2>&1
        done
    "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    "$WINE_LOADER" cmd /c exit </dev/null >/dev/null 2>&1
    find "$WINEPREFIX/dosdevices" -mindepth 1 -maxdepth 1 ! -name c: -exec rm -f {} +
    while IFS= read -r -d '' link; do
        case "$(realpath -m "$link")" in "$WINEPREFIX"/*) continue ;; esac
        if [ -d "$link" ]; then rm -f "$link" && mkdir -p "$link"; else rm -f "$link"; fi
    done < <(find "$WINEPREFIX" -type l -print0)
    export QZ_SEALED_PREFIX=$WINEPREFIX
}

# The prefix has no drive that reaches the build tree: the programs run from a copy in
# C:\qzbin. Tests make Unix links in the prefix with the copies of ln and rm in C:\qzbin\unix.
copy_build_into_prefix() {
    mkdir -p "$WINEPREFIX/drive_c/qzbin/unix"
    cp -r "$BUILD_ROOT/$TEST_ARCH/bin/." "$WINEPREFIX/drive_c/qzbin/"
    cp "$(command -v ln)" "$(command -v rm)" "$WINEPREFIX/drive_c/qzbin/unix/"
}

stop_wine_env() {
    [ -n "${WINESERVER:-}" ] && [ -n "${WINEPREFIX:-}" ] && "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
    [ -n "${WINE_TMP:-}" ] && rm -rf "$WINE_TMP"
    XVFB_PID= WINE_TMP=
}
