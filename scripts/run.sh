#!/usr/bin/env bash
# The main job: builds the software and runs it on the simulated bench (or the bench file
# named by TARQ_BENCH). Arguments are passed to tarq-cli; without any it lists the instruments.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
exec build/release/bin/tarq-cli "$@"
