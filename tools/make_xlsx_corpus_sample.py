#!/usr/bin/env python3
"""Copies a sample of the shared .xlsx corpus into the repository.

The .xlsx reader's corpus test walks ../shared/corpus/xlsx when it sits
next to the checkout; elsewhere (a fresh CI machine) it walks this sample,
so the comparison with the independent reader always runs. The sample
holds the smallest two files (up to 60 KB each) of every kind and every
feature tag of the manifest, and the files behind the differences the test
explains.

    tools/make_xlsx_corpus_sample.py [CORPUS] [OUT]
"""
import collections
import csv
import os
import shutil
import sys

KNOWN_DIFFERENCES = [
    "poi__52575_main.xlsx",
    "poi__sample-beta.xlsx",
    "poi__duplicate-filename.xlsx",
    "poi__duplicate-filename-case-insensitive.xlsx",
    "poi__64420.xlsm",
    "calamine__has_x000D_.xlsx",
    "xlsxwriter__shared_strings02.xlsx",
]
PER_CLASS = 2
LARGEST = 60 * 1024


def main():
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    corpus = sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "..", "shared", "corpus", "xlsx")
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(top, "tests", "xlsx", "corpus-sample")
    with open(os.path.join(corpus, "MANIFEST.tsv"), newline="", encoding="utf-8") as f:
        reader = csv.DictReader(f, delimiter="\t")
        header = reader.fieldnames
        rows = list(reader)
    classes = collections.defaultdict(list)
    for r in rows:
        tags = ["kind:" + r["kind"], "oracle:" + r["oracle"].split(":")[0]]
        tags += [t for t in r["features"].split(",") if t and not t.startswith("appName=")]
        for tag in tags:
            classes[tag].append((int(r["bytes"]), r["file"]))
    chosen = set(KNOWN_DIFFERENCES)
    for members in classes.values():
        chosen.update(name for size, name in sorted(members)[:PER_CLASS] if size <= LARGEST)

    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(os.path.join(out, "oracle"))
    kept = []
    for r in rows:
        name = r["file"]
        if name not in chosen:
            continue
        shutil.copyfile(os.path.join(corpus, name), os.path.join(out, name))
        for suffix in (".json", ".json.gz"):
            oracle = os.path.join(corpus, "oracle", name + suffix)
            if os.path.exists(oracle):
                shutil.copyfile(oracle, os.path.join(out, "oracle", name + suffix))
        # The reader's own warnings are not kept: no test reads them.
        plain = os.path.join(out, "oracle", name + ".json")
        if os.path.exists(plain):
            with open(plain, encoding="utf-8") as f:
                lines = f.readlines()
            with open(plain, "w", encoding="utf-8") as f:
                f.writelines(line for line in lines if not line.startswith('"warnings": '))
        kept.append(r)
    with open(os.path.join(out, "MANIFEST.tsv"), "w", newline="", encoding="utf-8") as f:
        writer = csv.DictWriter(f, fieldnames=header, delimiter="\t", lineterminator="\n")
        writer.writeheader()
        writer.writerows(kept)
    with open(os.path.join(out, "README.md"), "w", encoding="utf-8") as f:
        f.write("A sample of the shared .xlsx corpus (%d of %d files), written by\n"
                "tools/make_xlsx_corpus_sample.py; each file keeps the licence of the\n"
                "repository it came from (MANIFEST.tsv: source_repo, license). The oracle\n"
                "is openpyxl's reading of each file.\n" % (len(kept), len(rows)))
    print("%d files, %d bytes" % (len(kept), sum(int(r["bytes"]) for r in kept)))


if __name__ == "__main__":
    main()
