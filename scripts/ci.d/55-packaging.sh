#!/usr/bin/env bash
# The packages as users get them: the installed tree, programs built against it
# three ways, and Corvane's NuGet package restored by an application.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exec bash "$root/tests/packaging/run.sh" "${TARNWICK_BUILD_DIR:-$root/build}"
