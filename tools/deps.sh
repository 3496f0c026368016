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
  libbenchmark-dev libxml2-dev libssl-dev g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  mingw-w64-tools wine wine64 util-linux nlohmann-json3-dev libxml2-utils osslsigncode zip unzip
  openssl ansible-core ansible ansible-lint clang libclang-rt-14-dev gcovr
  rapidjson-dev jq chromium chromium-driver python3-selenium python3-jsonschema
  ccache lowdown lintian strace)

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
        velkaro_apt_update
        DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -qq \
            --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# Some machines fail apt's signature checks under its sandbox user ("gpgv ... required"), so the
# lists are fetched as root. A list that a mirror fails to deliver leaves the others usable: the
# install that follows says what is missing.
velkaro_apt_update() {
    apt-get -o APT::Sandbox::User=root -o DPkg::Lock::Timeout=900 update -qq ||
        echo "apt-get update reported errors; installing from the lists it did fetch" >&2
}

# True when the kernel runs a 32-bit x86 program: a static probe that exits with 42 through the
# 32-bit system call gate (binutils comes with g++).
velkaro_runs_32bit() {
    local dir status=0
    dir=$(mktemp -d)
    printf '.globl _start\n_start:\n movl $1, %%eax\n movl $42, %%ebx\n int $0x80\n' >"$dir/p.s"
    if as --32 -o "$dir/p.o" "$dir/p.s" && ld -m elf_i386 -o "$dir/p" "$dir/p.o"; then
        "$dir/p" 2>/dev/null || status=$?
    fi
    rm -rf "$dir"
    [ "$status" -eq 42 ]
}

# 32-bit Wine (wine32:i386 beside wine64) for the shipping i686 program's tests, when missing.
velkaro_install_wine32() {
    dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' &&
        return 0
    echo "Installing: wine32:i386 (with the i386 architecture)"
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    velkaro_apt_update
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -qq \
        --no-install-recommends wine32:i386 >/dev/null || {
        # Typical cause: the i386 lists lag behind the amd64 packages installed (a mirror that
        # failed to deliver them), and multiarch needs the same version of both.
        echo "wine32:i386 could not be installed (apt's reason above): the i686 suite cannot run" >&2
        return 1
    }
}

# A 64-bit Wine prefix of the build's own (a 32-bit program runs in it as on 64-bit Windows);
# the first start of a prefix takes several seconds.
velkaro_wine_prefix() {
    local prefix
    prefix=$(realpath -m "$1")
    if [ ! -f "$prefix/system.reg" ]; then
        echo "Creating Wine prefix $prefix"
        # The same home as cmake/wine-run.sh gives, so nothing lands in the user's own folders.
        local home
        home="$(dirname "$prefix")/winehome"
        HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
            XDG_CACHE_HOME="$home/.cache" WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all \
            WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" wineboot -i >/dev/null 2>&1
        HOME="$home" WINEPREFIX="$prefix" wineserver -w
    fi
}
