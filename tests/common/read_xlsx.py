#!/usr/bin/env python3
"""Prints a workbook as JSON, for tests to compare cell by cell.

    read_xlsx.py FILE

{"sheets": [names], "freeze": "A2", "rows": [[cell, ...], ...]} for the first
sheet, each cell null (blank) or {"v": value, "t": openpyxl's data type
("s" text, "n" number, "d" date, "f" formula), "bold": bool, "format": the
number format}; dates as ISO 8601 text.
"""
import datetime
import json
import sys

import openpyxl


def cell(c):
    if c.value is None:
        return None
    v = c.value
    if isinstance(v, (datetime.datetime, datetime.date)):
        v = v.isoformat()
    return {"v": v, "t": c.data_type, "bold": bool(c.font.b), "format": c.number_format}


def main():
    wb = openpyxl.load_workbook(sys.argv[1])
    ws = wb.worksheets[0]
    rows = [[cell(c) for c in row] for row in ws.iter_rows()]
    json.dump({"sheets": wb.sheetnames, "freeze": ws.freeze_panes, "rows": rows}, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
