#!/usr/bin/env bash
# Renders the documentation screenshots into docs/screenshots:
# Tessel's main window with running, paused and completed downloads, a
# download window, the new-URL dialog, the certificate prompt, the scheduler and
# the settings dialog's pages
# (offscreen); Corvane's connected window with a transfer running, its site
# manager and its existing-file prompt (on an Xvfb display, against pyftpdlib
# on loopback).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh screenshots
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target tst_tesselapp tessel tst_certificateprompt tst_scheduler tst_frmsettings tst_corvanewindow corvane \
  tst_options_dialog tst_windowfeatures
mkdir -p docs/screenshots
QT_QPA_PLATFORM=offscreen SUITE_BIN_DIR="$PWD/build/bin" SUITE_SCREENSHOT_DIR="$PWD/docs/screenshots" \
  build/tests/tst_tesselapp screenshots
QT_QPA_PLATFORM=offscreen SUITE_SCREENSHOT_DIR="$PWD/docs/screenshots" build/tests/tst_certificateprompt
QT_QPA_PLATFORM=offscreen SUITE_SCREENSHOT_DIR="$PWD/docs/screenshots" build/tests/tst_scheduler dialogControlRules
QT_QPA_PLATFORM=offscreen SUITE_SCREENSHOT_DIR="$PWD/docs/screenshots" SUITE_SOURCE_DIR="$PWD" \
  build/tests/tst_frmsettings screenshots

# Corvane: a display of its own for the run, stopped by its process id.
display="${SCREENSHOT_DISPLAY:-:13}"
Xvfb "$display" -screen 0 1400x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.1
done
DISPLAY="$display" QT_QPA_PLATFORM=xcb SUITE_SCREENSHOT_DIR="$PWD/docs/screenshots" \
  SUITE_SOURCE_DIR="$PWD" build/tests/tst_corvanewindow screenshots
# The Options dialog and the console (the custom command panel under the log).
DISPLAY="$display" QT_QPA_PLATFORM=xcb SUITE_SCREENSHOT_DIR="$PWD/docs/screenshots" build/tests/tst_options_dialog
DISPLAY="$display" QT_QPA_PLATFORM=xcb SUITE_SCREENSHOT_DIR="$PWD/docs/screenshots" build/tests/tst_windowfeatures
ls -l docs/screenshots
