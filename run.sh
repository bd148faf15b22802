#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
source "$(dirname "$0")/scripts/common.sh"
install_missing
build "$ROOT/build/app" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVEL_BUILD_TESTS=OFF
"$ROOT/build/app/app/Morvel"
