"""What the fixture generators share: flat-ODS (.fods) documents for
LibreOffice to convert, LibreOffice run with a profile of its own, and
damaged copies of a workbook.

The generators under tests/ import it from tools/ (see fixtures_folder).
Names of what they write, one style everywhere: snake_case, a workbook
written by a real writer begins with the writer (xlwt_, lo_ for LibreOffice,
gnm_ for Gnumeric, opx_ for openpyxl), and a copy damaged on purpose is
named after its source and the damage (lo_driver_truncated.xls).
"""
import os
import shutil
import subprocess
import tempfile
from xml.sax.saxutils import escape

FODS_HEAD = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
"""


def fods_document(tables, styles="", settings="", names=""):
    """A whole flat-ODS spreadsheet: automatic styles (number and cell
    styles, XML), calculation settings, the tables, and named ranges
    (table:named-range elements)."""
    parts = [FODS_HEAD]
    if styles:
        parts.append("<office:automatic-styles>\n%s\n</office:automatic-styles>\n" % styles)
    parts.append("<office:body><office:spreadsheet>\n")
    parts.append(settings)
    parts.append("\n".join(tables))
    if names:
        parts.append("<table:named-expressions>\n%s\n</table:named-expressions>\n" % names)
    parts.append("</office:spreadsheet></office:body></office:document>\n")
    return "".join(parts)


def odf_text(s):
    """Cell text as ODF paragraphs: newlines split paragraphs, tabs and
    significant spaces become elements, markup characters are escaped."""
    paras = []
    for line in s.replace("\r\n", "\n").split("\n"):
        out = []
        prev_space = True  # a leading space is significant
        for ch in line:
            if ch == "\t":
                out.append("<text:tab/>")
                prev_space = False
            elif ch == " ":
                out.append("<text:s/>" if prev_space else " ")
                prev_space = True
            else:
                out.append(escape(ch))
                prev_space = False
        if out and out[-1] == " ":
            out[-1] = "<text:s/>"
        paras.append("<text:p>%s</text:p>" % "".join(out))
    return "".join(paras)


def c_str(s):
    return '<table:table-cell office:value-type="string">%s</table:table-cell>' % odf_text(s)


def c_num(v, st=None):
    a = ' table:style-name="%s"' % st if st else ""
    return '<table:table-cell%s office:value-type="float" office:value="%r"/>' % (a, v)


def c_date(iso, st):
    return ('<table:table-cell table:style-name="%s" office:value-type="date" office:date-value="%s"/>'
            % (st, iso))


def c_time(dur, st):
    return ('<table:table-cell table:style-name="%s" office:value-type="time" office:time-value="%s"/>'
            % (st, dur))


def c_f(formula, st=None, value=None):
    """A formula cell; without a value LibreOffice computes it before export."""
    a = ' table:style-name="%s"' % st if st else ""
    if value is not None:
        a += ' office:value-type="float" office:value="%r"' % value
    return '<table:table-cell%s table:formula="%s"/>' % (a, escape(formula, {'"': "&quot;"}))


def c_empty(n=1):
    return '<table:table-cell table:number-columns-repeated="%d"/>' % n if n > 1 else "<table:table-cell/>"


def table(name, rows):
    """A sheet; each row is a list of cells, None an empty row, and
    ("repeat-empty", n) n empty rows."""
    x = ['<table:table table:name="%s">' % escape(name, {'"': "&quot;"})]
    for r in rows:
        if r is None:
            x.append("<table:table-row><table:table-cell/></table:table-row>")
        elif isinstance(r, tuple) and r and r[0] == "repeat-empty":
            x.append('<table:table-row table:number-rows-repeated="%d"><table:table-cell/></table:table-row>'
                     % r[1])
        else:
            x.append("<table:table-row>%s</table:table-row>" % "".join(r))
    x.append("</table:table>")
    return "\n".join(x)


def named_range(name, base, cells):
    return ('<table:named-range table:name="%s" table:base-cell-address="%s" table:cell-range-address="%s"/>'
            % (name, base, cells))


def soffice_convert(source, convert_to, outdir, profile=None, echo=False):
    """soffice --convert-to CONVERT_TO ("xls:MS Excel 97", "ods", ...) of
    source into outdir, with a profile of its own (a temporary one unless
    given) so that it never meets another LibreOffice of the same user.
    Returns the path of the result."""
    with tempfile.TemporaryDirectory() as work:
        cmd = ["soffice", "-env:UserInstallation=file://" + (profile or os.path.join(work, "profile")),
               "--headless", "--convert-to", convert_to, "--outdir", outdir, source]
        if echo:
            print("  $", " ".join(cmd), flush=True)
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    ext = convert_to.split(":", 1)[0]
    return os.path.join(outdir, os.path.splitext(os.path.basename(source))[0] + "." + ext)


def fods_to(fods_text, stem, outdir, *formats):
    """Writes fods_text as <stem>.fods in a temporary folder and converts it
    into outdir once per format ("xls:MS Excel 97", ...)."""
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, stem + ".fods")
        with open(source, "w", encoding="utf-8") as f:
            f.write(fods_text)
        for fmt in formats:
            result = soffice_convert(source, fmt, work, profile=os.path.join(work, "profile"))
            shutil.move(result, os.path.join(outdir, os.path.basename(result)))


def truncated_copy(source, target, size):
    """The first size bytes of source, as target."""
    with open(source, "rb") as f:
        head = f.read(size)
    with open(target, "wb") as f:
        f.write(head)


def fixtures_folder(script, argv):
    """Where a generator writes: the folder its command line names (argv[1],
    to compare a new run with the committed files), else the fixtures/
    folder beside the generator script. Created if missing."""
    if len(argv) > 1:
        folder = argv[1]
    else:
        folder = os.path.join(os.path.dirname(os.path.abspath(script)), "fixtures")
    os.makedirs(folder, exist_ok=True)
    return folder
