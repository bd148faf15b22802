#!/usr/bin/env bash
# Installs what is missing, builds the program and the demo map server, and starts both:
# the program runs in demo/ with a settings file that points it at the local demo server,
# so a whole mosaic can be downloaded without the regional server.
source "$(dirname "$0")/scripts/common.sh"
install_missing
build "$ROOT/build/app" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVEL_BUILD_TESTS=OFF

BIN="$ROOT/build/app"
SERVER_BASE="$(sed -n 's/^MORVEL_MAP_SERVER_BASE:STRING=//p' "$BIN/CMakeCache.txt")"
PORT="${SERVER_BASE##*:}"
DEMO="$ROOT/demo"
mkdir -p "$DEMO/mapas"
if [ ! -f "$DEMO/Morvel.ini" ]; then
    # CR LF, as the program's own settings files.
    printf '[Aplicacion]\r\nServidor=%s\r\nCarpeta=%s\r\n[Calibracion]\r\nOziExplorer=SI\r\nCompeGPS=SI\r\n' \
        "$SERVER_BASE" "$DEMO/mapas" > "$DEMO/Morvel.ini"
fi

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Built. No display was found: to try the program on this machine, run"
    echo "  xvfb-run -a -s '-screen 0 1280x900x24' ./run.sh"
    exit 0
fi

# The demo map server, unless one already answers on its port.
if ! (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; then
    "$BIN/tools/morvel-demo-server" &
    SERVER_PID=$!
    trap 'kill "$SERVER_PID" 2>/dev/null || true' EXIT
    for _ in $(seq 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null && break
        sleep 0.1
    done
fi

echo "Demo map server on $SERVER_BASE; tiles, BMP and calibration files go to $DEMO/mapas"
cd "$DEMO"
"$BIN/app/Morvel"
