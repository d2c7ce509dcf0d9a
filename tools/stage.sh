#!/usr/bin/env bash
# Lays out a built extension beside the Python package sources so that a
# development build can be imported without installing it:
#   tools/stage.sh build-dev && PYTHONPATH=build-dev/stage python -c 'import quillmoor'
set -euo pipefail
build=${1:?usage: tools/stage.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
stage="$root/$build/stage/quillmoor"
mkdir -p "$stage"
for f in "$root"/python/quillmoor/*; do ln -sf "$f" "$stage/"; done
so=$(find "$root/$build/src/bindings" -maxdepth 1 -name '_quillmoor*.so' | head -n 1)
ln -sf "$so" "$stage/"
