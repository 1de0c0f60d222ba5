#!/usr/bin/env bash
# Renders the documentation screenshots offscreen into docs/screenshots:
# Tessel's main window with running, paused and completed downloads, a
# download window, the new-URL dialog, the certificate prompt and the scheduler.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target tst_tesselapp tessel tst_certificateprompt tst_scheduler
mkdir -p docs/screenshots
QT_QPA_PLATFORM=offscreen SUITE_BIN_DIR="$PWD/build/bin" SUITE_SCREENSHOT_DIR="$PWD/docs/screenshots" \
  build/tests/tst_tesselapp screenshots
QT_QPA_PLATFORM=offscreen SUITE_SCREENSHOT_DIR="$PWD/docs/screenshots" build/tests/tst_certificateprompt
QT_QPA_PLATFORM=offscreen SUITE_SCREENSHOT_DIR="$PWD/docs/screenshots" build/tests/tst_scheduler dialogControlRules
ls -l docs/screenshots
