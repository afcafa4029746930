#!/usr/bin/env bash
# Every fuzz target for a short while, so that a regression shows up in CI;
# fails on any finding. Longer runs: scripts/fuzz.sh <seconds>.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exec bash "$root/scripts/fuzz.sh" "${TARNWICK_FUZZ_SECONDS:-30}"
