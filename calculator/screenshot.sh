#!/bin/sh
# Starts the calculator window on a virtual X server and saves a PNG of it.
# Needs the Debian packages xvfb and xauth (for xvfb-run) and a build with the
# tarvel_screenshot target: cmake --build <build dir> --target tarvel_screenshot
# Usage: calculator/screenshot.sh [BUILD_DIR] [OUTPUT.png]
set -eu
here=$(dirname "$0")
build=${1:-$here/../build}
out=${2:-$here/screenshot.png}
exec xvfb-run -a -s "-screen 0 1024x768x24" "$build/bin/tarvel_screenshot" "$out"
