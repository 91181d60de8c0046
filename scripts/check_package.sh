#!/usr/bin/env bash
# Builds the .deb and checks that only the programs and their desktop and service files are in
# it (no test executables) and that it depends on the package with the Qt platform plugins.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$ROOT"
ensure_packages dpkg-dev desktop-file-utils
build_preset default >/dev/null
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/vorlan_*.deb)

stray=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | grep -Ev \
  '^\./usr/(bin/(vorlan|pbxsim|vorlan-collect|vorlan-export|vorlan-load)|share/applications/vorlan\.desktop|share/icons/hicolor/scalable/apps/vorlan\.svg|lib/systemd/system/vorlan-collect@\.service)$' || true)
[ -z "$stray" ] || { echo "unexpected files in $deb:"; echo "$stray"; exit 1; }

listing=$(dpkg-deb -c "$deb")
for program in vorlan vorlan-collect vorlan-export vorlan-load pbxsim; do
  grep -q "\./usr/bin/$program\$" <<<"$listing" || { echo "$deb: no /usr/bin/$program"; exit 1; }
done

# xcb and offscreen are in libqt6gui6 on Debian 12.
dpkg-deb -f "$deb" Depends | grep -q 'libqt6gui6' || { echo "$deb: no libqt6gui6 in Depends"; exit 1; }

desktop-file-validate contrib/vorlan.desktop
echo "$deb: ok"
