# Shared by run.sh and test.sh: installs what is missing, configures and builds.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="$(nproc 2>/dev/null || echo 2)"

# Debian packages the build, the tests and the demo need. libproj-dev brings PROJ and its
# database (proj-data); libgdal-dev reads tracks (GPX, KML) and writes the exports; gdal-bin,
# unzip and poppler-utils are for the tests only, which read the files back with them (the
# PDF's pages with pdfinfo, pdftoppm, pdftotext and pdfimages), strace holds a sync where a
# test stops a run in the middle of one, and openbox frames and places the windows of the
# tests that need a real screen (Xvfb).
PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libjpeg-dev libsimpleini-dev libproj-dev
          libgdal-dev libgtest-dev libgmock-dev gdal-bin unzip poppler-utils strace
          fonts-dejavu-core fonts-liberation2 xvfb xauth qt6-translations-l10n openbox)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local apt=(apt-get)
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            apt=(sudo apt-get)
        else
            echo "These Debian packages are missing: ${missing[*]}" >&2
            echo "Install them as root (apt-get install ${missing[*]}) and run this again." >&2
            exit 1
        fi
    fi
    "${apt[@]}" update -qq
    DEBIAN_FRONTEND=noninteractive "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
}

# build <folder> [cmake options...]: configures once, then builds incrementally.
build() {
    local dir="$1"; shift
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$ROOT" -B "$dir" -G Ninja "$@"
    fi
    cmake --build "$dir" -j "$JOBS"
}
