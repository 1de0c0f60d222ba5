#!/usr/bin/env bash
# Installs the build into a scratch prefix and starts the installed programs
# from there, as a user with a fresh home: they must find their shipped files
# under <prefix>/share/tessel-suite and copy them into the per-user program
# directory. Usage: installcheck.sh BUILD_DIR
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

shipped=(share/tessel-suite/Lang-I/English.ini share/tessel-suite/QFTP.skn share/tessel-suite/varnodm.swf
         share/tessel-suite/QFTP.swf)
browser=(share/tessel-suite/browser/chromium/manifest.json share/tessel-suite/browser/chromium/background.js
         share/tessel-suite/browser/firefox/manifest.json share/tessel-suite/browser/firefox/background.js
         share/tessel-suite/browser/hosts/chromium/org.tessel.capture.json
         share/tessel-suite/browser/hosts/firefox/org.tessel.capture.json share/tessel-suite/browser/tessel-capture.xpi)
for f in bin/tessel bin/corvane bin/tessel-get bin/corvane-cli bin/tessel-capture-host "${shipped[@]}" "${browser[@]}" \
         share/applications/tessel.desktop share/applications/corvane.desktop \
         share/icons/hicolor/scalable/apps/tessel.svg share/icons/hicolor/scalable/apps/corvane.svg; do
  [[ -e "$prefix/$f" ]] || { echo "not installed: $f"; exit 1; }
done
# The shipped host manifests name the installed host.
for family in chromium firefox; do
  grep -q "\"path\": \"$prefix/bin/tessel-capture-host\"" \
    "$prefix/share/tessel-suite/browser/hosts/$family/org.tessel.capture.json" ||
    { echo "$family host manifest does not name the installed host"; exit 1; }
done
for entry in tessel corvane; do
  grep -qx "Exec=$entry.*" "$prefix/share/applications/$entry.desktop" || { echo "$entry.desktop: no Exec"; exit 1; }
  grep -qx "Icon=$entry" "$prefix/share/applications/$entry.desktop" || { echo "$entry.desktop: no Icon"; exit 1; }
  if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$prefix/share/applications/$entry.desktop"; fi
done

mkdir -p "$scratch/home" "$scratch/data" "$scratch/config"
mkdir -m 700 "$scratch/run"
for program in tessel corvane; do
  env -u SUITE_PROGRAM_DIR -u SUITE_CONFIG_DIR HOME="$scratch/home" XDG_DATA_HOME="$scratch/data" \
    XDG_CONFIG_HOME="$scratch/config" XDG_RUNTIME_DIR="$scratch/run" QT_QPA_PLATFORM=offscreen \
    "$prefix/bin/$program" --exit-after-ms 300 || { echo "$program did not start and end cleanly"; exit 1; }
done
for f in "${shipped[@]}"; do
  copy=$scratch/data/tessel-suite/${f#share/tessel-suite/}
  cmp -s "$prefix/$f" "$copy" || { echo "not found by the installed programs: ${f#share/tessel-suite/}"; exit 1; }
done
# Nothing was written beside the installed executables.
extra=$(ls "$prefix/bin" | grep -vx -e tessel -e corvane -e tessel-get -e corvane-cli -e tessel-capture-host || true)
[[ -z "$extra" ]] || { echo "written into bin: $extra"; exit 1; }
"$prefix/bin/tessel-get" --help >/dev/null
"$prefix/bin/corvane-cli" --help >/dev/null
echo "installed programs found their data"
