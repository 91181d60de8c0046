#!/usr/bin/env bash
# clang-tidy, with the checks in .clang-tidy, over every source in src/ and tools/. Prints the
# findings and a one-line summary; exits nonzero on any finding.
# Usage: scripts/tidy.sh
source "$(dirname "$0")/common.sh"
ensure_packages clang-tidy
# The compile database, and the build tree it points into (forwarding headers, moc output).
build_preset default
cd "$ROOT"

tidy=$(command -v clang-tidy || command -v clang-tidy-14)
runner=$(command -v run-clang-tidy || command -v run-clang-tidy-14 || true)
mapfile -t sources < <(find "$ROOT/src" "$ROOT/tools" -name '*.cpp' | sort)
jobs=$(nproc)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

started=$SECONDS
if [ -n "$runner" ]; then
  # Its positional arguments are regular expressions; our paths match themselves. It echoes
  # each command before that source's findings, and reports a run that died on its stderr.
  "$runner" -clang-tidy-binary "$tidy" -p "$ROOT/build" -j "$jobs" -quiet "${sources[@]}" \
    >"$out/all.log" 2>&1 || true
  sed -E 's/\x1b\[[0-9;]*m//g' "$out/all.log" >"$out/plain.log"
  checked=$(grep -c "^$tidy " "$out/plain.log" || true)
  died=$(grep -c ': terminated by signal ' "$out/plain.log" || true)
else
  # One log per source, so that parallel runs do not interleave their lines.
  mkdir "$out/each"
  printf '%s\0' "${sources[@]}" | xargs -0 -P "$jobs" -I{} sh -c \
    'log="$4/$(echo "$3" | tr / _)"; "$1" -p "$2/build" --quiet "$3" >"$log.log" 2>&1; echo $? >"$log.rc"' \
    sh "$tidy" "$ROOT" {} "$out/each" || true
  cat "$out"/each/*.log >"$out/plain.log"
  checked=$(cat "$out"/each/*.rc 2>/dev/null | wc -l)
  died=$(cat "$out"/each/*.rc 2>/dev/null | grep -cvE '^[01]$' || true)
fi
elapsed=$((SECONDS - started))

# Without the echoed commands and clang's counts of warnings it did not show.
grep -vE "^($tidy |[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|Suppressed [0-9]+ warnings|Use -header-filter)" \
  "$out/plain.log" || true

# A header's finding is reported by every source that includes it: count each place once.
grep -E '^/[^:]+:[0-9]+:[0-9]+: (warning|error): .*\]$' "$out/plain.log" | sort -u >"$out/findings" || true
findings=$(wc -l <"$out/findings")
of="$checked of ${#sources[@]} sources in ${elapsed}s"
if [ "$findings" -gt 0 ]; then
  files=$(cut -d: -f1 "$out/findings" | sort -u | wc -l)
  checks=$(sed -E 's/.*\[([^]]+)\]$/\1/; s/,-warnings-as-errors//' "$out/findings" | tr ',' '\n' |
    sort | uniq -c | sort -rn | awk '{printf "%s%s %s", sep, $2, $1; sep=", "}')
  echo "clang-tidy: $findings findings in $files files ($checks), $of"
  exit 1
fi
if [ "$checked" -ne ${#sources[@]} ] || [ "$died" -ne 0 ]; then
  echo "clang-tidy: incomplete, $died runs died, $of"
  exit 1
fi
echo "clang-tidy: clean, $of"
