#!/usr/bin/env bash
# Installs what is needed, builds Release (the program and the simulator
# only), starts the module simulator on a pseudo-terminal and the program with
# that port preselected.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export BUILD_DIR="${BUILD_DIR:-build}"
BUILD_TARGETS="kelvarin txsim" bash scripts/build.sh

BUILD_DIR="$(cd "$BUILD_DIR" && pwd)"
APP_DIR="$BUILD_DIR/src/app"
PORT_LINK="$BUILD_DIR/ttyTXSIM"
rm -f "$PORT_LINK"

# The simulator reads control lines on its standard input; a FIFO keeps it
# open for as long as the program runs (see README for the commands).
CONTROL="$BUILD_DIR/txsim.control"
rm -f "$CONTROL"
mkfifo "$CONTROL"
"$BUILD_DIR/tools/txsim/txsim" --link "$PORT_LINK" --load 2500 --noise 3 <"$CONTROL" &
SIM_PID=$!
exec 3>"$CONTROL"
trap 'kill $SIM_PID 2>/dev/null || true; rm -f "$CONTROL"' EXIT

for _ in $(seq 1 50); do
    [ -e "$PORT_LINK" ] && break
    sleep 0.1
done
[ -e "$PORT_LINK" ] || { echo "run: the simulator did not come up" >&2; exit 1; }

# Preselect the simulator's port in the program's settings.
INI="$APP_DIR/Data.ini"
if [ -f "$INI" ] && grep -q '^Com Port *=' "$INI"; then
    sed -i "s|^Com Port *=.*|Com Port=$PORT_LINK|" "$INI"
else
    printf '[Communication Parameters]\r\nCom Port=%s\r\n' "$PORT_LINK" >>"$INI"
fi

echo "run: simulator on $PORT_LINK (control: echo 'load 5000' > $CONTROL)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: no display found, starting the program under Xvfb" >&2
    xvfb-run -a -s "-screen 0 1280x800x24" "$APP_DIR/kelvarin"
else
    "$APP_DIR/kelvarin"
fi
