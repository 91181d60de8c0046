#!/usr/bin/env bash
# Builds the .deb and checks that only the programs and their desktop and service files are in
# it (no test executables), that it depends on the package with the Qt platform plugins, and
# that systemd takes the service as it is installed, with its exposure score no worse than now.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$ROOT"
ensure_packages dpkg-dev desktop-file-utils systemd
build_preset default >/dev/null
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/vorlan_*.deb)

stray=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | grep -Ev \
  '^\./(usr/(bin/(vorlan|pbxsim|vorlan-collect|vorlan-export|vorlan-load)|share/applications/vorlan\.desktop|share/icons/hicolor/scalable/apps/vorlan\.svg|lib/systemd/system/vorlan-collect@\.service|share/doc/vorlan/examples/collect\.conf|share/vorlan/prometheus/vorlan-rules\.yml)|etc/vorlan/collect/pgpass)$' || true)
[ -z "$stray" ] || { echo "unexpected files in $deb:"; echo "$stray"; exit 1; }

listing=$(dpkg-deb -c "$deb")
for program in vorlan vorlan-collect vorlan-export vorlan-load pbxsim; do
  grep -q "\./usr/bin/$program\$" <<<"$listing" || { echo "$deb: no /usr/bin/$program"; exit 1; }
done

# The services' password file: root's alone, and the administrator's to edit (a conffile).
grep -q '^-rw------- root/root .* \./etc/vorlan/collect/pgpass$' <<<"$listing" ||
  { echo "$deb: /etc/vorlan/collect/pgpass is not root's alone (0600)"; exit 1; }
dpkg-deb -I "$deb" conffiles 2>/dev/null | grep -qx /etc/vorlan/collect/pgpass ||
  { echo "$deb: /etc/vorlan/collect/pgpass is no conffile"; exit 1; }

# xcb and offscreen are in libqt6gui6 on Debian 12.
dpkg-deb -f "$deb" Depends | grep -q 'libqt6gui6' || { echo "$deb: no libqt6gui6 in Depends"; exit 1; }

desktop-file-validate contrib/vorlan.desktop

# The service as the package installs it. Neither check needs a running systemd; verify finds
# the units the service depends on (sysinit.target, ...) in the root it is given, so the host's
# are copied beside the package's, and any warning of it fails the check.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
cp -an /usr/lib/systemd/system/. "$root/usr/lib/systemd/system/"
# An instance set up from the shipped example, which the collector itself must accept.
mkdir -p "$root/etc/vorlan/collect"
cp "$root/usr/share/doc/vorlan/examples/collect.conf" "$root/etc/vorlan/collect/north.conf"
build/src/collect/vorlan-collect --config "$root/etc/vorlan/collect/north.conf" --help >/dev/null
unit="$root/usr/lib/systemd/system/vorlan-collect@.service"
warnings=$(systemd-analyze verify --root="$root" vorlan-collect@north.service 2>&1) &&
  [ -z "$warnings" ] || { echo "systemd-analyze verify:"; echo "$warnings"; exit 1; }
# --threshold is ten times the score shown: 12 is today's 1.2.
systemd-analyze security --offline=yes --threshold=12 "$unit" >"$root/security.txt" ||
  { cat "$root/security.txt"; echo "vorlan-collect@.service: exposure above 1.2"; exit 1; }
grep 'Overall exposure level' "$root/security.txt"
echo "$deb: ok"
