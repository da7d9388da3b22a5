#!/usr/bin/env bash
# The long fuzz run: every fuzz target (or those named) for ten million inputs, one after the
# other, one process each (the machine has two cores). Takes hours; see scripts/fuzz.sh.
set -euo pipefail
exec bash "$(dirname "$0")/fuzz.sh" --runs "${FUZZ_RUNS:-10000000}" "$@"
