# SPDX-License-Identifier: MIT
# Sourced by the set-up scripts: installs, with apt-get, whatever Debian 12
# packages a command needs and the machine lacks.

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
# a session bus, an MQTT broker, QEMU with busybox for the kernel-driver
# test (its kernel is downloaded by the test, with apt-get download, and
# unpacked once with xz), and
# clang with its sanitizer and fuzzer runtimes.
PC_AUTOMATION_TEST_PACKAGES=(
    libx11-dev xvfb xauth xdotool x11-utils openbox faketime tzdata dbus-daemon mosquitto openssl
    qemu-system-x86 busybox-static cpio xz-utils
    clang libclang-rt-14-dev
)

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

pc_automation_build() {
    local build_dir=$1
    shift
    cmake -S "$PC_AUTOMATION_ROOT" -B "$build_dir" -DCMAKE_INSTALL_PREFIX="$build_dir/install" "$@"
    cmake --build "$build_dir" --parallel "$(nproc)"
}
