#!/usr/bin/python3
"""Writes the workbook of the worksheet-catalogue tests with LibreOffice.

  lo_catalogue.xls  three sheets ("Sales" with data, "My Data" with data and
                    a space in its name, "Empty" with no cell) and a defined
                    name "Prices" for the range Sales.A1:B3.

Run with Debian's /usr/bin/python3; needs LibreOffice
(libreoffice-calc-nogui). Writes into fixtures/ (or the folder given as its
argument); the result is committed.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from fixture_writers import (c_empty, c_num, c_str, fixtures_folder, fods_document,  # noqa: E402
                             fods_to, named_range, table)


def main():
    sheets = [
        table("Sales", [[c_str("Item"), c_str("Price")], [c_str("pen"), c_num(3)],
                        [c_str("ink"), c_num(12)]]),
        table("My Data", [[c_str("Name")], [c_str("Ann")]]),
        table("Empty", [[c_empty()]]),
    ]
    names = named_range("Prices", "$Sales.$A$1", "$Sales.$A$1:.$B$3")
    fods_to(fods_document(sheets, names=names), "lo_catalogue", fixtures_folder(__file__, sys.argv),
            "xls:MS Excel 97")


if __name__ == "__main__":
    main()
