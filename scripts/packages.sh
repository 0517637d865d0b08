# Installs the Debian packages a build or check needs and this machine lacks.
# Sourced by .ci/run and the scripts, which then call install_packages.
#
# A package mirror can be mid-sync: `apt-get update` then fails for one index
# (exit 100) while every package still installs from the others. So a failed
# update is reported and passed over, and only a failed install fails.

# package_installed PACKAGE[:ARCH]: whether dpkg has it installed.
package_installed() {
    dpkg-query -W -f='${db:Status-Status}\n' "$1" 2>/dev/null | grep -qx installed
}

# Refreshes the package lists once for each set of architectures: the set is
# remembered in the environment, so the scripts .ci/run starts do not refresh
# them again, and adding an architecture (whose lists are new) does.
refresh_package_lists() {
    local architectures log
    architectures=$(echo $(dpkg --print-architecture) $(dpkg --print-foreign-architectures))
    [ "${ACTIVE_USERS_LISTS_FOR:-}" != "$architectures" ] || return 0
    if ! log=$(apt-get update -qq 2>&1); then
        echo "install_packages: apt-get update failed; going on with the package lists at hand:" >&2
        grep -E '^[EW]: ' <<< "$log" >&2 || printf '%s\n' "$log" >&2
    fi
    export ACTIVE_USERS_LISTS_FOR=$architectures
}

# install_packages [--no-recommends] PACKAGE[:ARCH]...: installs those not
# installed yet, adding a foreign architecture where one is named. Fails,
# naming what is still missing, only when the install itself fails.
install_packages() {
    local options=() missing=() still=() package
    if [ "${1:-}" = --no-recommends ]; then
        options+=(--no-install-recommends)
        shift
    fi
    for package in "$@"; do
        package_installed "$package" || missing+=("$package")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    for package in "${missing[@]}"; do
        case $package in
        *:*) dpkg --print-foreign-architectures | grep -qx "${package#*:}" ||
            dpkg --add-architecture "${package#*:}" ;;
        esac
    done
    refresh_package_lists
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${options[@]}" "${missing[@]}" >/dev/null && return 0
    for package in "${missing[@]}"; do
        package_installed "$package" || still+=("$package")
    done
    echo "install_packages: could not install ${still[*]:-${missing[*]}}" >&2
    return 1
}

# install_build_dependencies [-a ARCH ...]: what debian/control's
# Build-Depends name and this machine lacks, for ARCH when given (the
# cross compiler and the target's libraries beside the native ones).
install_build_dependencies() {
    local options=()
    if [ "${1:-}" = -a ]; then
        options=(-a "$2" -P cross,nocheck)
        # The cross compiler, which Build-Depends leaves to build-essential's
        # cross counterpart, and the target's C library beside the native
        # one, whose symbols dpkg-shlibdeps reads.
        install_packages "crossbuild-essential-$2" "libc6:$2" || return 1
    fi
    dpkg-checkbuilddeps "${options[@]}" 2> /dev/null && return 0
    refresh_package_lists
    DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -qq "${options[@]}" ./ > /dev/null
}
