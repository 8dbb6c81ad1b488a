# Shared by the project's scripts: installs what a fresh Debian 12 machine
# lacks and builds the project. Meant to be sourced.

project_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# The toolkit to build with, 5 or 6: TOOLKIT_QT_MAJOR from the environment,
# 5 unless it says otherwise. A Qt 6 build goes to its own directory.
qt_major=${TOOLKIT_QT_MAJOR:-5}
case $qt_major in
5) qt_packages=(qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite) ;;
# The xcb platform plugin, for the window on a real display, is packaged
# apart in Qt 6.
6) qt_packages=(qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6sql6-sqlite) ;;
*) echo "TOOLKIT_QT_MAJOR must be 5 or 6, not $qt_major" >&2; exit 2 ;;
esac
qt6_packages=(qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6sql6-sqlite)

# What building and running the tool needs; the journal needs Qt's SQLite
# driver, packaged apart. The update window's captions end
# in a full-width colon, which DejaVu lacks and the Droid fallback font draws.
build_packages=(cmake g++ make pkgconf "${qt_packages[@]}" libmosquitto-dev
    libssl-dev fonts-dejavu-core fonts-droid-fallback)
# What the tests, the virtual LAN and the demo need besides. The Ansible
# collection's lab test reaches its sites' gateways over SSH.
lab_packages=(mosquitto iproute2 procps xvfb x11-utils xdotool imagemagick nftables
    openssh-server openssh-client ansible-core)
# What packaging needs: the package's dependencies are worked out by
# dpkg-shlibdeps, the desktop files are checked by the desktop's own
# validators, the manuals by groff. ansible-galaxy builds the Ansible
# collection's tarball. Only the package's own test, which tries it in a
# clean root, needs debootstrap.
package_packages=(dpkg-dev desktop-file-utils appstream groff-base ansible-core)
package_check_packages=(debootstrap)
# What judges the Ansible collection by the ecosystem's rules: ansible-test's
# sanity tests, units and integration with Debian's linters and pytest in
# place of the ones it would download, and ansible-lint.
ansible_check_packages=(ansible-core ansible-lint yamllint pylint python3-pycodestyle
    python3-voluptuous python3-pytest python3-pytest-xdist python3-pytest-forked python3-venv)
# What the fuzzers need: clang, libFuzzer and the sanitizer runtimes of clang,
# and llvm-symbolizer for readable stacks in clang's sanitizer reports.
fuzz_packages=(clang libclang-rt-14-dev llvm)

# Installs the packages that are missing, updating the package lists once.
ensure_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    ((${#missing[@]})) || return 0
    if [[ $EUID -ne 0 ]]; then
        echo "missing packages: ${missing[*]} (run as root to install them)" >&2
        return 1
    fi
    echo "installing: ${missing[*]}"
    if [[ -z ${toolkit_apt_updated:-} ]]; then
        apt-get update -qq
        toolkit_apt_updated=1
    fi
    install_without_starting_services "${missing[@]}"
}

# The pid of the sshd that the pid file $1 names, if it runs.
running_sshd() {
    local pid
    pid=$(cat "$1" 2>/dev/null) || return 0
    [[ $pid =~ ^[0-9]+$ && $(cat "/proc/$pid/comm" 2>/dev/null) == sshd ]] && echo "$pid"
    return 0
}

# Installs packages without letting their maintainer scripts start a service:
# openssh-server's (or mosquitto's) would start its daemon on the machine's own
# network, while the project runs its servers only inside its own network
# namespaces, with configurations of its own. invoke-rc.d and
# deb-systemd-invoke ask /usr/sbin/policy-rc.d first, whose exit code 101
# forbids every start; one put there for the install is removed however the
# install ends. An sshd that the install started all the same is ended.
install_without_starting_services() (
    policy=/usr/sbin/policy-rc.d
    sshd_pid_file=/run/sshd.pid
    sshd_before=$(running_sshd "$sshd_pid_file")
    if [[ ! -e $policy ]]; then
        trap 'rm -f "$policy"' EXIT
        trap 'exit 130' INT
        trap 'exit 143' TERM
        printf '#!/bin/sh\nexit 101\n' >"$policy"
        chmod 755 "$policy"
    fi
    status=0
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" \
        >/dev/null || status=$?
    sshd_after=$(running_sshd "$sshd_pid_file")
    if [[ -n $sshd_after && $sshd_after != "$sshd_before" ]]; then
        echo "ending the sshd (pid $sshd_after) that installing the packages started" >&2
        kill "$sshd_after"
    fi
    exit "$status"
)

# The build directory of the chosen toolkit.
default_build_dir() {
    if [[ $qt_major == 5 ]]; then echo "$project_root/build"; else echo "$project_root/build-qt$qt_major"; fi
}

# build_project DIR [CMAKE ARGS...] [-- TARGET...]: configures once, then
# builds the targets named, or everything, with the chosen toolkit unless the
# arguments name one. As many jobs at once as CMAKE_BUILD_PARALLEL_LEVEL says,
# or as there are cores. The build's own output goes to DIR/build.log and is
# shown only when the build fails; a first build says so in one line.
build_project() {
    local dir=$1 cmake_args=() targets=()
    shift
    while (($#)) && [[ $1 != -- ]]; do
        cmake_args+=("$1")
        shift
    done
    (($#)) && shift
    targets=("$@")
    mkdir -p "$dir"
    local log=$dir/build.log build_args=()
    [[ -n ${CMAKE_BUILD_PARALLEL_LEVEL:-} ]] || build_args+=(-j "$(nproc)")
    ((${#targets[@]} == 0)) || build_args+=(--target "${targets[@]}")
    # A build that only checks what is up to date says nothing.
    [[ -e $dir/CMakeCache.txt ]] ||
        echo "building ${targets[*]:-everything} in $dir (a few minutes the first time; log: $log)"
    if ! { cmake -S "$project_root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTOOLKIT_QT_MAJOR="$qt_major" "${cmake_args[@]}" &&
        cmake --build "$dir" "${build_args[@]}"; } >"$log" 2>&1; then
        tail -n 60 "$log" >&2
        echo "the build failed; all of its output is in $log" >&2
        return 1
    fi
}
