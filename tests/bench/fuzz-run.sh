#!/bin/bash
# fuzz-run.sh FUZZER SEEDS WORKDIR: a bounded libFuzzer run over a fresh corpus.
set -eu
fuzzer=$1 seeds=$2 work=$3
rm -rf "$work"; mkdir -p "$work"
[ -d "$seeds" ] && cp -r "$seeds"/. "$work"/ 2>/dev/null || true
exec "$fuzzer" -runs=300000 -max_total_time=45 -timeout=10 -rss_limit_mb=2048 "$work"
