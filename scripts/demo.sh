#!/bin/bash
# Builds the tools, writes the bundled sample Delphi program (with forms),
# runs the class detector on it with a log, and leaves every output in out/:
# the detector's database, listing and log, the class model (JSON, report,
# form files), the C header and the IDA and Ghidra scripts.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target pehost corvale lumisk make_sample >build.log 2>&1 \
  || { cat build.log >&2; exit 1; }

mkdir -p out
rm -rf out/forms
bin=build/bin
"$bin/make_sample" --forms --manifest out/sample.manifest.json --db-seed out/sample.seed.json \
  out/sample.exe
# A fresh database each time, seeded with what a user had given it.
cp out/sample.seed.json out/sample.db.json
"$bin/pehost" --plugin corvale --start 0 --log yes --db out/sample.db.json \
  --json out/sample.json --listing out/sample.lst \
  --classes out/sample.classes.json --report out/sample.report.md --forms out/forms \
  --c-header out/sample.h --ida-script out/sample.ida.py --ghidra-script out/sample.ghidra.py \
  out/sample.exe >out/sample.output.txt

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
echo
echo "The program's classes, types and forms:"
echo "  class model:   out/sample.classes.json"
echo "  class report:  out/sample.report.md"
echo "  C header:      out/sample.h"
echo "  form files:    out/forms/"
for form in out/forms/*; do echo "                 $form"; done
echo "  IDA script:    out/sample.ida.py"
echo "  Ghidra script: out/sample.ghidra.py"
echo
echo "The class report begins:"
head -n 24 out/sample.report.md | sed 's/^/  | /'
first_form=$(ls out/forms | tail -n 1)
echo
echo "The form out/forms/$first_form begins:"
head -n 12 "out/forms/$first_form" | sed 's/^/  | /'
