#!/usr/bin/env bash
# Runs every fuzz target of a VC_FUZZ build for a while, starting from its seeds.
# usage: tests/fuzz/run.sh BUILD_DIR [SECONDS]   (default 60 s per target)
# New inputs go to a scratch folder, never into the repository; a crash leaves
# its input in BUILD_DIR/fuzz-findings/ and the script exits non-zero.
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
findings="$build/fuzz-findings"
mkdir -p "$findings"
status=0
for target in fuzz_imap_parser fuzz_mime_decode fuzz_modified_utf7 fuzz_rules; do
  scratch=$(mktemp -d)
  seeds=("$here/corpus/$target")
  [ "$target" = fuzz_mime_decode ] && seeds+=("$here/../fixtures")
  log="$findings/$target.log"
  if "$build/bin/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$findings/$target-" "$scratch" "${seeds[@]}" >"$log" 2>&1; then
    runs=$(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
    echo "$target: $runs executions in ${seconds} s, no finding"
  else
    echo "$target: FAILED (see $log)"
    tail -n 40 "$log"
    status=1
  fi
  rm -rf "$scratch"
done
exit $status
