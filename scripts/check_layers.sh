#!/usr/bin/env bash
# Fails when a folder includes a header of a folder it may not use. The build's include roots
# already refuse most of these; this check names the offending line, and also catches what an
# include root cannot: "../" paths, and headers the compiler finds next to the including file.
set -euo pipefail
cd "$(dirname "$0")/.."

# What each folder may use, besides itself. Keep in step with the README's layout table.
declare -A USES=(
  [src/link]=""
  [src/format]=""
  [src/logging]=""
  [src/store]="logging format"
  [src/platform]=""
  [src/session]="link format logging platform"
  [src/app]="session link format logging platform"
  [src/about]="platform"
  [src/ui]="app about platform link format logging"
  [src]="app ui platform logging"
  [src/collect]="session platform logging store format"
  [tools/pbxsim]="link"
  [tools/vorlan-export]="format logging"
  [tools/vorlan-load]="store logging format"
)

status=0
for folder in "${!USES[@]}"; do
  own=${folder##*/}
  for file in "$folder"/*.h "$folder"/*.cpp; do
    [ -e "$file" ] || continue
    while IFS=: read -r line include; do
      target=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"$include")
      case $target in
        *..*) ;;  # always refused
        */*)
          layer=${target%%/*}
          [ "$layer" = "$own" ] && continue
          [[ " ${USES[$folder]} " == *" $layer "* ]] && continue ;;
        *) [ -e "$folder/$target" ] && continue ;;
      esac
      echo "$file:$line: may not include \"$target\" (allowed: ${USES[$folder]:-nothing of ours})"
      status=1
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
  done
done
[ $status -eq 0 ] && echo "layers: every include is allowed"
exit $status
