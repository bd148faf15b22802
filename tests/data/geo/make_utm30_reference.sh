#!/usr/bin/env bash
# Makes utm30_ed50_reference.txt: an exact transverse Mercator inverse over the area the
# program works in (eastings 537000 to 790000 every 11 km, northings 4540000 to 4800000
# every 10 km), computed by PROJ (Debian package proj-bin) from ED50 / UTM zone 30N
# (EPSG:23030) to ED50 geographic (EPSG:4230). Both are on the same datum, so PROJ applies
# only its inverse projection, the same as
#   cs2cs +proj=utm +zone=30 +ellps=intl +to +proj=longlat +ellps=intl
# Run it from anywhere: tests/data/geo/make_utm30_reference.sh
set -euo pipefail
out="$(cd "$(dirname "$0")" && pwd)/utm30_ed50_reference.txt"

grid="$(for northing in $(seq 4540000 10000 4800000); do
            for easting in $(seq 537000 11000 790000); do
                echo "$easting $northing"
            done
        done)"
# EPSG:4230 gives latitude first, then longitude.
geographic="$(echo "$grid" | cs2cs -f %.12f EPSG:23030 EPSG:4230 | awk '{ print $1, $2 }')"
{
    echo "# easting northing latitude longitude (UTM zone 30, International 1924 ellipsoid)"
    echo "# made by make_utm30_reference.sh with PROJ $(cs2cs 2>&1 | head -n 1)"
    paste -d ' ' <(echo "$grid") <(echo "$geographic")
} > "$out"
echo "wrote $(grep -vc '^#' "$out") points to $out"
