#!/bin/bash
# Builds the tools, writes the bundled sample Delphi program, runs the class
# detector on it with a log, and leaves the results in out/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target pehost corvale lumisk make_sample >build.log 2>&1 \
  || { cat build.log >&2; exit 1; }

mkdir -p out
bin=build/bin
"$bin/make_sample" --manifest out/sample.manifest.json --db-seed out/sample.seed.json out/sample.exe
# A fresh database each time, seeded with what a user had given it.
cp out/sample.seed.json out/sample.db.json
"$bin/pehost" --plugin corvale --start 0 --log yes --db out/sample.db.json \
  --json out/sample.json --listing out/sample.lst out/sample.exe >out/sample.output.txt

total=$(grep -E "^(Total|No groups)" out/sample.output.txt || true)
count() { grep -c "$1" out/sample.json || true; }
echo "Class detector on out/sample.exe: ${total%.}"
echo "  annotated $(count '"name": "offset_cls_') class records," \
  "$(count '"name": "offset_\(type\|obj\)_') type information blocks," \
  "$(count '^ *{"start"') functions"
echo "  output window: out/sample.output.txt"
echo "  log file:      out/sample_classes.log"
echo "  listing:       out/sample.lst"
echo "  database:      out/sample.json (saved database out/sample.db.json)"
