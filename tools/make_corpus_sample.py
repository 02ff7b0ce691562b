#!/usr/bin/env python3
"""Copies a sample of the shared corpus of real workbooks into the repository.

The reader's corpus test walks ../shared/corpus when it sits next to the
checkout; elsewhere (a fresh CI machine) it walks this sample, so the
comparison with the independent reader and with Excel's own CSV exports
always runs. The sample holds every workbook that has an Excel CSV export,
the smallest two of every (writer, expected outcome) class of the manifest
(up to 200 KB each), and the workbooks whose known differences the test
allows.

    tools/make_corpus_sample.py [CORPUS] [OUT]
"""
import collections
import csv
import os
import shutil
import sys

KNOWN_DIFFERENCES = [
    "sheetjs__LONumbers.xls",
    "phpspreadsheet__HiddenMergeCellsTest.xls",
]
PER_CLASS = 2
LARGEST = 200 * 1024  # bytes: a class whose files are all larger is left out


def main():
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    corpus = sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "..", "shared", "corpus")
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(top, "tests", "xls", "corpus-sample")
    with open(os.path.join(corpus, "MANIFEST.tsv"), newline="", encoding="utf-8") as f:
        reader = csv.DictReader(f, delimiter="\t")
        header = reader.fieldnames
        rows = list(reader)

    books = {r["file"][4:]: r for r in rows if r["file"].startswith("xls/")}
    exports = [r for r in rows if r["file"].startswith("excel-csv/")]
    chosen = set(KNOWN_DIFFERENCES)
    chosen.update(r["file"][len("excel-csv/"):].split(".excel-mac-")[0] for r in exports)
    classes = collections.defaultdict(list)
    for name, r in books.items():
        classes[(r["writer_guess"], r["expected"])].append((int(r["bytes"]), name))
    for members in classes.values():
        chosen.update(name for size, name in sorted(members)[:PER_CLASS] if size <= LARGEST)

    shutil.rmtree(out, ignore_errors=True)
    for folder in ("xls", "oracle", "excel-csv"):
        os.makedirs(os.path.join(out, folder))
    kept = []
    for r in rows:
        path = r["file"]
        if path.startswith("xls/") and path[4:] in chosen:
            shutil.copyfile(os.path.join(corpus, path), os.path.join(out, path))
            oracle = os.path.join("oracle", path[4:] + ".json")
            shutil.copyfile(os.path.join(corpus, oracle), os.path.join(out, oracle))
        elif path.startswith("excel-csv/"):
            shutil.copyfile(os.path.join(corpus, path), os.path.join(out, path))
        else:
            continue
        kept.append(r)
    with open(os.path.join(out, "MANIFEST.tsv"), "w", newline="", encoding="utf-8") as f:
        writer = csv.DictWriter(f, fieldnames=header, delimiter="\t", lineterminator="\n")
        writer.writeheader()
        writer.writerows(kept)
    shutil.copyfile(os.path.join(corpus, "README.md"), os.path.join(out, "README.md"))
    print(f"{len(chosen)} workbooks, {len(exports)} Excel exports -> {out}")


if __name__ == "__main__":
    main()
