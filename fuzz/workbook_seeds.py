#!/usr/bin/env python3
"""Writes the seed corpus of fuzz/workbook_fuzz.cpp into fuzz/corpus/workbook_fuzz/.

Each seed is a small valid workbook. A seed whose first byte is even holds the
workbook file itself (a zip written with Python's zipfile); one whose first
byte is odd holds the parts' texts separated by 0x1E, which the target packs
into a zip itself (bit 1 set: stored rather than deflated). Run it again after
changing it; the seeds are checked in.
"""
import io
import os
import zipfile

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "workbook_fuzz")

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG = "http://schemas.openxmlformats.org/package/2006/relationships"

PACKAGE_RELS = (f'<Relationships xmlns="{PKG}"><Relationship Id="rId1" Type="{REL}/officeDocument" '
                'Target="xl/workbook.xml"/></Relationships>')


def workbook(sheets, date1904=False):
    pr = '<workbookPr date1904="1"/>' if date1904 else ""
    items = "".join(f'<sheet name="{name}" sheetId="{i + 1}" r:id="rId{i + 1}"/>' for i, (name, _) in enumerate(sheets))
    return f'<workbook xmlns="{MAIN}" xmlns:r="{REL}">{pr}<sheets>{items}</sheets></workbook>'


def workbook_rels(sheets):
    items = "".join(f'<Relationship Id="rId{i + 1}" Type="{REL}/{kind}" Target="{target}"/>'
                    for i, (_, (kind, target)) in enumerate(sheets))
    items += f'<Relationship Id="rS" Type="{REL}/styles" Target="styles.xml"/>'
    items += f'<Relationship Id="rT" Type="{REL}/sharedStrings" Target="/xl/sharedStrings.xml"/>'
    return f'<Relationships xmlns="{PKG}">{items}</Relationships>'


STYLES = (f'<styleSheet xmlns="{MAIN}"><numFmts count="3"><numFmt numFmtId="164" formatCode="00000"/>'
          '<numFmt numFmtId="165" formatCode="yyyy-mm-dd"/><numFmt numFmtId="166" formatCode="&quot;Mr. &quot;@"/>'
          '</numFmts><cellStyleXfs count="1"><xf numFmtId="14"/></cellStyleXfs><cellXfs count="6">'
          '<xf numFmtId="0"/><xf numFmtId="164"/><xf numFmtId="165"/><xf numFmtId="166"/><xf numFmtId="14"/>'
          '<xf numFmtId="49"/></cellXfs><dxfs count="1"><dxf><numFmt numFmtId="164" formatCode="0.0"/></dxf></dxfs>'
          '</styleSheet>')

SHARED = (f'<sst xmlns="{MAIN}" count="4" uniqueCount="4"><si><t>Name</t></si><si><t>Email</t></si>'
          '<si><r><t xml:space="preserve">Rich </t></r><r><rPr><b/></rPr><t>text</t></r></si>'
          '<si><t>\u6771\u4eac_x000D_</t><rPh sb="0" eb="1"><t>\u30c8\u30a6</t></rPh></si></sst>')

SHEET1 = (f'<worksheet xmlns="{MAIN}"><sheetData>'
          '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c><c r="D1" t="s"><v>2</v></c></row>'
          '<row r="3"><c r="A3" t="inlineStr"><is><t>Ann &amp; \u0391\u03b8\u03b7\u03bd\u03ac</t></is></c>'
          '<c t="s"><v>3</v></c><c s="1"><v>1234</v></c><c s="2"><v>45000</v></c><c t="d" s="2"><v>2023-03-15T08:30:00Z</v></c>'
          '<c t="b"><v>1</v></c><c t="e"><v>#N/A</v></c><c t="str"><f>A1&amp;B1</f><v>NameEmail</v></c>'
          '<c s="3" t="inlineStr"><is><t>Smith</t></is></c><c s="4"><v>-1.5E-3</v></c></row>'
          '<row><c r="XFD5" s="5"><v>7</v></c></row><row r="6"><c s="1"/></row></sheetData></worksheet>')

SHEET2 = (f'<worksheet xmlns="{MAIN}"><sheetData><row><c t="inlineStr"><is><r><t>a_x005F_x0041_</t></r>'
          '<rPh><t>x</t></rPh></is></c><c><v>0.1</v></c></row></sheetData></worksheet>')

CHART = f'<chartsheet xmlns="{MAIN}"/>'


def xlsx(parts, compression=zipfile.ZIP_DEFLATED, zip64=False):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression) as z:
        for name, text in parts:
            info = zipfile.ZipInfo(name, (2024, 1, 1, 0, 0, 0))
            info.compress_type = compression
            with z.open(info, "w", force_zip64=zip64) as f:
                f.write(text.encode("utf-8"))
    return buffer.getvalue()


def structured(texts, stored):
    return bytes([3 if stored else 1]) + b"\x1e".join(t.encode("utf-8") for t in texts)


def main():
    sheets = [("Recipients", ("worksheet", "worksheets/sheet1.xml"))]
    two = [("First sheet", ("worksheet", "worksheets/sheet1.xml")), ("Chart", ("chartsheet", "chartsheets/sheet1.xml")),
           ("Donn\u00e9es", ("worksheet", "worksheets/sheet2.xml"))]
    base = [("_rels/.rels", PACKAGE_RELS), ("xl/workbook.xml", workbook(sheets)),
            ("xl/_rels/workbook.xml.rels", workbook_rels(sheets)), ("xl/styles.xml", STYLES),
            ("xl/sharedStrings.xml", SHARED), ("xl/worksheets/sheet1.xml", SHEET1)]
    several = [("_rels/.rels", PACKAGE_RELS), ("xl/workbook.xml", workbook(two, date1904=True)),
               ("xl/_rels/workbook.xml.rels", workbook_rels(two)), ("xl/styles.xml", STYLES),
               ("xl/sharedStrings.xml", SHARED), ("xl/worksheets/sheet1.xml", SHEET1),
               ("xl/chartsheets/sheet1.xml", CHART), ("xl/worksheets/sheet2.xml", SHEET2)]
    inline_only = [("xl/workbook.xml", workbook(sheets)),
                   ("xl/_rels/workbook.xml.rels",
                    f'<Relationships xmlns="{PKG}"><Relationship Id="rId1" Type="{REL}/worksheet" '
                    'Target="worksheets/sheet1.xml"/></Relationships>'),
                   ("xl/worksheets/sheet1.xml", SHEET2)]
    seeds = {
        "deflated": b"\x00" + xlsx(base),
        "stored": b"\x00" + xlsx(base, zipfile.ZIP_STORED),
        "zip64_local_headers": b"\x00" + xlsx(base, zip64=True),
        "several_sheets_1904": b"\x00" + xlsx(several),
        "no_package_rels": b"\x00" + xlsx(inline_only, zipfile.ZIP_STORED),
        "compound_encrypted": b"\x00\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" + bytes(56) + "EncryptedPackage".encode("utf-16-le"),
        "parts_deflated": structured([PACKAGE_RELS, workbook(sheets), workbook_rels(sheets), STYLES, SHARED, SHEET1], False),
        "parts_stored_1904": structured([PACKAGE_RELS, workbook([sheets[0], ("Two", ("worksheet", "worksheets/sheet2.xml"))], True),
                                         workbook_rels([sheets[0], ("Two", ("worksheet", "worksheets/sheet2.xml"))]),
                                         STYLES, SHARED, SHEET1, SHEET2], True),
    }
    os.makedirs(OUT, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
