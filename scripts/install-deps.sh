#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests, the demo and the package
# (scripts/package.sh) need.
set -euo pipefail

PACKAGES=(
    cmake g++ ninja-build
    qt6-base-dev qt6-serialport-dev
    qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools libgl-dev libqt6opengl6-dev
    fonts-wqy-microhei xvfb xauth xdotool imagemagick
    clang-14 libclang-rt-14-dev
    dpkg-dev lintian desktop-file-utils appstream librsvg2-bin
    libmosquitto-dev pkg-config mosquitto mosquitto-clients
)

# The MQTT suite and benchmark start their own broker on a free port; the
# system service the mosquitto package starts when it is installed is not
# wanted (a service already set up on this machine is left alone).
stop_mosquitto_service() {
    if command -v systemctl >/dev/null 2>&1; then
        $SUDO systemctl disable --now mosquitto 2>/dev/null || true
    fi
    if [ -x /etc/init.d/mosquitto ]; then
        $SUDO /etc/init.d/mosquitto stop >/dev/null 2>&1 || true
    fi
}

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ "${#missing[@]}" -eq 0 ]; then
    echo "install-deps: all packages present"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
if [[ " ${missing[*]} " == *" mosquitto "* ]]; then
    stop_mosquitto_service
fi
