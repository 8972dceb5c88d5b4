# SPDX-License-Identifier: MIT
# Sourced by the set-up scripts: installs, with apt-get, whatever Debian 12
# packages a command needs and the machine lacks; builds; checks a package.

# Building and running the panel, the viewer and the port library.
PC_AUTOMATION_BUILD_PACKAGES=(
    build-essential cmake pkg-config
    qt6-base-dev libgl-dev libmosquitto-dev libftdi1-dev libxcb1-dev
    fonts-noto-cjk fonts-arphic-ukai
)
# Building the Debian package.
# help2man makes the manual pages; lintian, appstream and desktop-file-utils
# check the package.
PC_AUTOMATION_PACKAGE_PACKAGES=(file dpkg-dev help2man lintian appstream desktop-file-utils)
# The tests: a virtual X display and its tools, a faked clock, time zones,
# a session bus, an MQTT broker, and clang with its sanitizer and fuzzer
# runtimes; on amd64, QEMU with busybox for the kernel-driver test (its
# kernel is downloaded by the test, with apt-get download, and unpacked once
# with xz), whose guest runs amd64 programs.
PC_AUTOMATION_TEST_PACKAGES=(
    libx11-dev xvfb xauth xdotool x11-utils openbox faketime tzdata dbus-daemon mosquitto openssl
    clang libclang-rt-14-dev
)
[ "$(uname -m)" != x86_64 ] ||
    PC_AUTOMATION_TEST_PACKAGES+=(qemu-system-x86 busybox-static cpio xz-utils)

# pc_automation_install_packages PACKAGE...
pc_automation_install_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}

# Sets PC_AUTOMATION_DEBIAN_FLAGS: CMake arguments for a Release build with
# Debian's hardening flags for DEB_HOST_ARCH (this machine's unless set), as
# a Debian build would apply them.
pc_automation_debian_flags() {
    local -x DEB_BUILD_MAINT_OPTIONS=hardening=+all
    local cflags cxxflags cppflags ldflags
    cflags=$(dpkg-buildflags --get CFLAGS)
    cxxflags=$(dpkg-buildflags --get CXXFLAGS)
    cppflags=$(dpkg-buildflags --get CPPFLAGS)
    ldflags=$(dpkg-buildflags --get LDFLAGS)
    PC_AUTOMATION_DEBIAN_FLAGS=(-DCMAKE_BUILD_TYPE=Release
        "-DCMAKE_C_FLAGS=$cflags $cppflags" "-DCMAKE_CXX_FLAGS=$cxxflags $cppflags"
        "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags")
}

pc_automation_build() {
    local build_dir=$1
    shift
    cmake -S "$PC_AUTOMATION_ROOT" -B "$build_dir" -DCMAKE_INSTALL_PREFIX="$build_dir/install" "$@"
    cmake --build "$build_dir" --parallel "$(nproc)"
}

# pc_automation_check_manual_pages DEB: each program has a manual page in the
# package, with every section (a page of shell errors has none).
pc_automation_check_manual_pages() {
    local pages page section
    pages=$(mktemp -d)
    dpkg-deb --extract "$1" "$pages"
    for page in pc-automation pc-automation-mqtt lpt-board; do
        [ -e "$pages/usr/share/man/man1/$page.1.gz" ] ||
            { echo "$(basename "$0"): no manual page for $page" >&2; rm -rf "$pages"; return 1; }
        for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES "SEE ALSO"; do
            zcat "$pages/usr/share/man/man1/$page.1.gz" | grep -Eq "^\.SH \"?$section\"?\$" || {
                echo "$(basename "$0"): the manual page of $page has no $section" >&2
                rm -rf "$pages"
                return 1
            }
        done
    done
    rm -rf "$pages"
}
