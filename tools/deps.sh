# Shared by the README's commands: installs the Debian packages the build needs, when missing.
velkaro_packages=(cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev
  libbenchmark-dev libxml2-dev g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  mingw-w64-tools wine wine64 util-linux clang libclang-rt-14-dev gcovr)

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
        WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
        WINEPREFIX="$prefix" wineserver -w
    fi
}
