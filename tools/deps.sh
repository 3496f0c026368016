# Shared by the README's commands: installs the Debian packages the build needs, when missing.

# Both commands need root: to install packages, and because Velkaro refuses to run without
# administrator rights (root on Linux). Not root: the calling script runs again through sudo,
# and what it makes under build/ is handed back to the user who called it.
velkaro_as_root() {  # script [arguments...]
    local script=$1
    shift
    if [ "$(id -u)" -eq 0 ]; then
        if [ "${VELKARO_VIA_SUDO:-}" = 1 ] && [ -n "${SUDO_UID:-}" ]; then
            trap 'chown -R "$SUDO_UID:${SUDO_GID:-$SUDO_UID}" build 2>/dev/null || true' EXIT
        fi
        return 0
    fi
    if command -v sudo >/dev/null 2>&1; then
        echo "Not running as root: running again through sudo (it may ask for your password)." >&2
        exec sudo -- env VELKARO_VIA_SUDO=1 "CI=${CI:-}" \
            "VELKARO_DEMO_BUILD=${VELKARO_DEMO_BUILD:-}" bash "$script" "$@"
    fi
    cat >&2 <<EOF_ROOT
This command needs root: it installs Debian packages, and Velkaro refuses to run without
administrator rights (root on Linux). You are not root and sudo is not installed. Either run it
as root, for example:
    su -c 'bash $script'
or have an administrator install sudo and allow you to use it, then run it again as written.
EOF_ROOT
    exit 1
}

velkaro_packages=(cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev
  libbenchmark-dev libxml2-dev g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  mingw-w64-tools wine wine64 util-linux nlohmann-json3-dev libxml2-utils osslsigncode zip unzip
  openssl ansible-core clang libclang-rt-14-dev gcovr
  rapidjson-dev jq chromium chromium-driver python3-selenium python3-jsonschema)

velkaro_install_deps() {
    local missing=()
    for p in "${velkaro_packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    if ((${#missing[@]})); then
        if [ "$(id -u)" -ne 0 ]; then
            echo "Missing packages: ${missing[*]}; run as root or install them first." >&2
            return 1
        fi
        echo "Installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# A Wine prefix of the build's own; the first start of a prefix takes several seconds.
velkaro_wine_prefix() {
    local prefix
    prefix=$(realpath -m "$1")
    if [ ! -f "$prefix/system.reg" ]; then
        echo "Creating Wine prefix $prefix"
        # The same home as cmake/wine-run.sh gives, so nothing lands in the user's own folders.
        local home
        home="$(dirname "$prefix")/winehome"
        HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
            XDG_CACHE_HOME="$home/.cache" WINEPREFIX="$prefix" WINEDEBUG=-all \
            WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" wineboot -i >/dev/null 2>&1
        HOME="$home" WINEPREFIX="$prefix" wineserver -w
    fi
}
