#!/bin/sh
# Exports a ModelFile as glTF with quillmesh-import --export and validates the result:
#   export_and_validate.sh TOOL MODEL.kvt OUT.gltf|OUT.glb VALIDATE_GLTF.mjs
# Exits with 77 (the test is skipped) when node or the glTF validator package is missing.
set -eu
tool=$1 model=$2 output=$3 validate=$4
if ! command -v node >/dev/null 2>&1; then
    echo "node or gltf-validator not found: there is no node on PATH"
    exit 77
fi
# Find out first whether the validator loads (its exit status is then 77), before exporting.
status=0
node "$validate" >/dev/null 2>&1 || status=$?
if [ "$status" -eq 77 ]; then
    node "$validate"
    exit 77
fi
"$tool" --quiet --export "$output" "$model"
node "$validate" "$output"
