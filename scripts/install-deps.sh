#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need;
#   --packaging    also what scripts/package.sh needs (dpkg-dev, lintian, ...)
#   --screenshots  also what scripts/screenshots.sh needs (ImageMagick)
# Runs apt-get as root, through sudo otherwise; does nothing when all are there.
set -euo pipefail

PACKAGES=(
    cmake g++ ninja-build
    qt6-base-dev qt6-serialport-dev
    qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools libgl-dev libqt6opengl6-dev
    fonts-wqy-microhei xvfb xauth
    clang-14 libclang-rt-14-dev
    libmosquitto-dev pkg-config mosquitto mosquitto-clients
)
for group in "$@"; do
    case "$group" in
        --packaging) PACKAGES+=(dpkg-dev lintian desktop-file-utils appstream librsvg2-bin file) ;;
        --screenshots) PACKAGES+=(imagemagick xdotool) ;;
        *) echo "install-deps: unknown option $group" >&2; exit 2 ;;
    esac
done

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

# One dpkg-query for all of them (it names the installed ones).
installed="$(dpkg-query -W -f='${Package} ${Status}\n' "${PACKAGES[@]}" 2>/dev/null |
    awk '$NF == "installed" && $(NF-1) == "ok" {print $1}' || true)"
missing=()
for p in "${PACKAGES[@]}"; do
    grep -qxF "$p" <<<"$installed" || missing+=("$p")
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
