#!/usr/bin/python3
"""Writes the documents of the document-reader tests into a folder.

Good documents carry one marker word per part (page, sheet, slide, property)
so that a test can tell which part came out. Hostile ones are built here
rather than checked in: the inflation bomb is a gigabyte once inflated.
Usage: make_documents.py FOLDER
"""
import bz2
import gzip
import io
import lzma
import os
import random
import sys
import zipfile

OUT = sys.argv[1]


def path(name):
    return os.path.join(OUT, name)


def write(name, data):
    with open(path(name), "wb") as f:
        f.write(data)


def pdfs():
    from reportlab.pdfgen import canvas
    from reportlab.lib import pdfencrypt

    def draw(target, encrypt=None):
        c = canvas.Canvas(target, encrypt=encrypt)
        c.setTitle("Harbour survey")
        c.setSubject("Tidal depths")
        c.setAuthor("Mira Quell")
        c.setKeywords("soundings, estuary")
        c.drawString(72, 720, "First page mentions pelican.")
        c.showPage()
        c.drawString(72, 720, "Second page mentions cormorant.")
        c.showPage()
        c.save()

    draw(path("good.pdf"))
    draw(path("encrypted.pdf"),
         pdfencrypt.StandardEncryption("secret", canPrint=0))
    data = open(path("good.pdf"), "rb").read()
    write("truncated.pdf", data[: len(data) // 3])
    write("good.pdf.gz", gzip.compress(data))

    # A page tree whose only kid is the tree itself.
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [2 0 R 3 0 R] /Count 2 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>",
    ]
    body = b"%PDF-1.4\n"
    offsets = []
    for i, obj in enumerate(objects, 1):
        offsets.append(len(body))
        body += b"%d 0 obj\n" % i + obj + b"\nendobj\n"
    xref = len(body)
    body += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for off in offsets:
        body += b"%010d 00000 n \n" % off
    body += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(objects) + 1, xref)
    write("loop.pdf", body)


def rewrite_zip(name, replace):
    """Copies a zip, replacing or adding the entries of `replace`."""
    src = zipfile.ZipFile(path(name))
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as dst:
        for item in src.infolist():
            if item.filename not in replace:
                dst.writestr(item, src.read(item.filename))
        for entry, data in replace.items():
            dst.writestr(entry, data)
    src.close()
    write(name, buf.getvalue())


def docx():
    import docx as pydocx
    d = pydocx.Document()
    d.add_heading("Quarterly ledger", 1)
    d.add_paragraph("The body speaks of albatross.")
    table = d.add_table(rows=1, cols=2)
    table.cell(0, 0).text = "cellheron"
    table.cell(0, 1).text = "cellegret"
    p = d.core_properties
    p.title, p.subject, p.author = "Ledger title", "Ledger subject", "Ada Brin"
    p.keywords, p.comments = "ledger, quarter", "Draft for review"
    d.save(path("good.docx"))
    rewrite_zip("good.docx", {"docProps/app.xml": (
        '<?xml version="1.0" encoding="UTF-8"?><Properties xmlns="http://schemas.'
        'openxmlformats.org/officeDocument/2006/extended-properties">'
        "<Company>Northwind Mills</Company></Properties>")})


def xlsx():
    import openpyxl
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "First"
    ws.append(["sheetwalrus", 42])
    ws2 = wb.create_sheet("Second")
    ws2.append(["sheetnarwhal"])
    wb.properties.title = "Stock list"
    wb.properties.creator = "Ola Penn"
    wb.save(path("good.xlsx"))
    # openpyxl writes shared strings only; a cell with an inline string is
    # added by hand to the second sheet.
    rewrite_zip("good.xlsx", {"xl/worksheets/sheet2.xml": (
        '<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="http://schemas.'
        'openxmlformats.org/spreadsheetml/2006/main"><sheetData><row r="1">'
        '<c r="A1" t="inlineStr"><is><t>inlinebeluga</t></is></c>'
        '<c r="B1" t="s"><v>999</v></c></row></sheetData></worksheet>')})


def pptx():
    ns = ('xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main" '
          'xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main"')

    def slide(word):
        return ('<?xml version="1.0"?><p:sld %s><p:cSld><p:spTree><p:sp><p:txBody>'
                "<a:p><a:r><a:t>%s</a:t></a:r></a:p></p:txBody></p:sp></p:spTree>"
                "</p:cSld></p:sld>" % (ns, word))

    with zipfile.ZipFile(path("good.pptx"), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", "<Types/>")
        z.writestr("ppt/presentation.xml", "<p:presentation %s/>" % ns)
        z.writestr("ppt/slides/slide10.xml", slide("slideten"))
        z.writestr("ppt/slides/slide2.xml", slide("slidetwo"))
        z.writestr("ppt/slides/slide1.xml", slide("slideone"))


def odf():
    from odf.opendocument import OpenDocumentText, OpenDocumentSpreadsheet
    from odf.text import P, H
    from odf.table import Table, TableRow, TableCell
    from odf import meta, dc

    doc = OpenDocumentText()
    doc.text.addElement(H(outlinelevel=1, text="Minutes"))
    doc.text.addElement(P(text="The odt body names a lynx."))
    doc.meta.addElement(dc.Title(text="Meeting minutes"))
    doc.meta.addElement(dc.Subject(text="Board meeting"))
    doc.meta.addElement(meta.InitialCreator(text="Ivo Stark"))
    doc.meta.addElement(meta.Keyword(text="board"))
    doc.meta.addElement(meta.Keyword(text="minutes"))
    doc.meta.addElement(dc.Description(text="Approved"))
    doc.save(path("good.odt"))

    sheet = OpenDocumentSpreadsheet()
    for name, word in (("One", "odsmarmot"), ("Two", "odsbadger")):
        table = Table(name=name)
        row = TableRow()
        cell = TableCell()
        cell.addElement(P(text=word))
        row.addElement(cell)
        table.addElement(row)
        sheet.spreadsheet.addElement(table)
    sheet.save(path("good.ods"))

    head = ('<?xml version="1.0"?>\n<!DOCTYPE office:document-content [\n%s]>\n'
            '<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:'
            'xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0">'
            "<office:body><office:text><text:p>%s</text:p></office:text></office:body>"
            "</office:document-content>")
    laughs = '<!ENTITY lol0 "lol">\n' + "".join(
        '<!ENTITY lol%d "%s">\n' % (i, ("&lol%d;" % (i - 1)) * 10) for i in range(1, 10))
    bad = {
        "laughs.odt": head % (laughs, "before &lol9; after"),
        "external.odt": head % ('<!ENTITY xxe SYSTEM "file:///etc/passwd">\n',
                                "secret: &xxe; end"),
    }
    for name, content in bad.items():
        with zipfile.ZipFile(path(name), "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr(zipfile.ZipInfo("mimetype"), "application/vnd.oasis.opendocument.text")
            z.writestr("content.xml", content)


def epub():
    with zipfile.ZipFile(path("good.epub"), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("mimetype", "application/epub+zip")
        z.writestr("META-INF/container.xml",
                   '<container xmlns="urn:oasis:names:tc:opendocument:xmlns:container">'
                   '<rootfiles><rootfile full-path="OEBPS/book.opf"/></rootfiles></container>')
        z.writestr("OEBPS/book.opf",
                   '<package xmlns="http://www.idpf.org/2007/opf" '
                   'xmlns:dc="http://purl.org/dc/elements/1.1/"><metadata>'
                   "<dc:title>Sea Tales</dc:title><dc:creator>Rua Veld</dc:creator>"
                   "<dc:subject>Fiction</dc:subject><dc:description>Short stories"
                   "</dc:description></metadata><manifest>"
                   '<item id="c2" href="text/two.xhtml"/><item id="c1" href="text/one.xhtml"/>'
                   '</manifest><spine><itemref idref="c1"/><itemref idref="c2"/></spine>'
                   "</package>")
        for name, word in (("one", "chapterotter"), ("two", "chapterseal")):
            z.writestr("OEBPS/text/%s.xhtml" % name,
                       '<html xmlns="http://www.w3.org/1999/xhtml"><head><title>t</title>'
                       "<style>p{}</style></head><body><p>%s</p></body></html>" % word)


def mail():
    from email.message import EmailMessage
    m = EmailMessage()
    m["Subject"] = "Shipment delayed"
    m["From"] = "Tomas Reed <tomas@example.org>"
    m["To"] = "ops@example.org"
    m["Date"] = "Tue, 01 Dec 2026 10:00:00 +0000"
    m.set_content("Plain body mentions walnut.\n")
    m.add_alternative("<html><body><p>Html body mentions walnut.</p></body></html>",
                      subtype="html")
    m.add_attachment(open(path("good.docx"), "rb").read(), maintype="application",
                     subtype="octet-stream", filename="attached.docx")
    m.add_attachment(b"Attached notes mention chestnut.\n", maintype="text",
                     subtype="plain", filename="notes.txt")
    write("good.eml", bytes(m))

    second = EmailMessage()
    second["Subject"] = "Second letter"
    second["From"] = "ops@example.org"
    second.set_content("The second letter mentions hazel.\n")
    write("letters.mbox", b"From a@example.org Tue Dec  1 10:00:00 2026\n" + bytes(m) +
          b"\nFrom b@example.org Tue Dec  1 11:00:00 2026\n" + bytes(second) + b"\n")

    # Ten thousand attachments, written as text: the mail library would take
    # longer to build them than the reader to read them.
    parts = ["From: many@example.org\nSubject: Many\nMIME-Version: 1.0\n"
             'Content-Type: multipart/mixed; boundary="b"\n\n--b\n'
             "Content-Type: text/plain\n\nManyparts body.\n"]
    for i in range(10000):
        parts.append("--b\nContent-Type: text/plain\nContent-Disposition: attachment; "
                     'filename="n%d.txt"\n\nnote %d\n' % (i, i))
    parts.append("--b--\n")
    write("many.eml", "".join(parts).encode())


def hostile_zips():
    rnd = random.Random(7)
    write("random.docx", bytes(rnd.getrandbits(8) for _ in range(4096)))
    # word/document.xml inflates to 1 GiB from about 1 MiB.
    with zipfile.ZipFile(path("bomb.docx"), "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        z.writestr("[Content_Types].xml", "<Types/>")
        with z.open("word/document.xml", "w", force_zip64=True) as f:
            block = b" " * (1 << 20)
            for _ in range(1024):
                f.write(block)


def others():
    write("good.rtf", rb"{\rtf1\ansi{\fonttbl\f0\fswiss Helvetica;}\f0 The rtf body names a "
          rb"puffin.\par Second line.\par}")
    # No Debian tool writes the older binary format; catdoc reads a file
    # without its container as the text it holds, which shows the program
    # run and its output taken.
    write("memo.doc", b"Plain old words of a memo.\n")
    write("notes.txt.bz2", bz2.compress(b"Compressed notes mention juniper.\n"))
    write("notes.txt.xz", lzma.compress(b"Compressed notes mention sorrel.\n"))


os.makedirs(OUT, exist_ok=True)
if os.path.exists(path("complete")):
    os.unlink(path("complete"))
for make in (pdfs, docx, xlsx, pptx, odf, epub, mail, hostile_zips, others):
    make()
# Tests that find this file know the folder is whole.
write("complete", b"")
