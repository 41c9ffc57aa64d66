#!/usr/bin/python3
"""Makes the sample drawings of samples/ (run by hand: /usr/bin/python3 samples/make_samples.py
[NAME ...], NAME one of the functions listed in ALL; without names, all of them).

Needs Debian's python3-ezdxf; dynamic_blocks.dxf comes from the shared gen_drawing.py.
Deterministic: fixed handles seeds and no time stamps where ezdxf allows.
"""
import os
import subprocess
import sys

import ezdxf

HERE = os.path.dirname(os.path.abspath(__file__))


def attributed_block(doc, name="TAG"):
    blk = doc.blocks.new(name)
    blk.add_line((0, 0), (10, 0))
    blk.add_attdef("NUMBER", (0, 1), dxfattribs={"prompt": "Part number?", "height": 0.5})
    blk.add_attdef("MAKER", (0, 2), text="ACME", dxfattribs={"prompt": "Maker", "height": 0.5})
    const = blk.add_attdef("KIND", (0, 3), text="valve", dxfattribs={"height": 0.5})
    const.is_const = True
    return blk


def save(doc, name, **kw):
    path = os.path.join(HERE, name)
    doc.saveas(path, **kw)
    print(path, os.path.getsize(path))


def attributes():
    doc = ezdxf.new("R2010")
    attributed_block(doc)
    msp = doc.modelspace()
    for i in range(5):
        ref = msp.add_blockref("TAG", (i * 20, 0))
        ref.add_auto_attribs({"NUMBER": f"P-{i:03d}", "MAKER": "ACME"})
    save(doc, "attributes_r2010.dxf")


def layouts():
    doc = ezdxf.new("R2013")
    attributed_block(doc)
    doc.modelspace().add_blockref("TAG", (0, 0)).add_auto_attribs({"NUMBER": "M-1"})
    for n in range(1, 4):
        lay = doc.layouts.new(f"Sheet {n}")
        lay.add_blockref("TAG", (n, n)).add_auto_attribs({"NUMBER": f"S-{n}"})
    save(doc, "layouts_r2013.dxf")


def cp1251():
    # ezdxf encodes with the code page the document was created with, so the Cyrillic texts go
    # in as ASCII placeholders and are replaced by their cp1251 bytes in the saved file.
    doc = ezdxf.new("R2000")
    doc.header["$DWGCODEPAGE"] = "ANSI_1251"
    attributed_block(doc, "VALVE_RU")
    msp = doc.modelspace()
    ref = msp.add_blockref("VALVE_RU", (0, 0))
    ref.add_auto_attribs({"NUMBER": "@@NUMBER@@", "MAKER": "@@MAKER@@"})
    msp.add_text("@@TEXT@@")
    path = os.path.join(HERE, "cp1251_r2000.dxf")
    doc.saveas(path)
    data = open(path, "rb").read()
    # ezdxf writes the code page it encoded with; the bytes below are cp1251.
    data = data.replace(b"ANSI_1252", b"ANSI_1251")
    for key, text in (("@@NUMBER@@", "Задвижка №1"), ("@@MAKER@@", "Завод «Знамя»"),
                      ("@@TEXT@@", "Привет, мир — € ")):
        data = data.replace(key.encode(), text.encode("cp1251"))
    # A character cp1251 lacks, as AutoCAD writes it.
    data = data.replace("€ ".encode("cp1251"), "€ ".encode("cp1251") + b"\\U+2713")
    open(path, "wb").write(data)
    print(path, os.path.getsize(path))


def utf8():
    doc = ezdxf.new("R2018")
    attributed_block(doc)
    msp = doc.modelspace()
    msp.add_blockref("TAG", (0, 0)).add_auto_attribs({"NUMBER": "Größe Ø 50 – 日本語 😇"})
    msp.add_text("Ελληνικά, 한국어")
    save(doc, "utf8_r2018.dxf")


def r12():
    doc = ezdxf.new("R12")
    attributed_block(doc)
    msp = doc.modelspace()
    for i in range(3):
        msp.add_blockref("TAG", (i * 20, 0)).add_auto_attribs({"NUMBER": f"R12-{i}"})
    save(doc, "r12.dxf")


def binary():
    doc = ezdxf.new("R2010")
    attributed_block(doc)
    msp = doc.modelspace()
    for i in range(3):
        msp.add_blockref("TAG", (i * 20, 0)).add_auto_attribs({"NUMBER": f"B-{i}", "MAKER": "Bin"})
    save(doc, "binary_r2010.dxf", fmt="bin")


def binary_r12():
    doc = ezdxf.new("R12")
    attributed_block(doc)
    doc.modelspace().add_blockref("TAG", (0, 0)).add_auto_attribs({"NUMBER": "B12-0"})
    save(doc, "binary_r12.dxf", fmt="bin")


def multiline():
    # Multi-line attributes (an ATTDEF and an ATTRIB with an embedded MTEXT, one longer than
    # 250 characters so that it travels in chunks), and a reference that lacks its attributes.
    doc = ezdxf.new("R2018")
    blk = doc.blocks.new("NOTE")
    blk.add_line((0, 0), (10, 0))
    remark = blk.add_attdef("REMARK", (0, 1), dxfattribs={"prompt": "Remark", "height": 0.5})
    remark.embed_mtext(blk.add_mtext("Checked by\\Pnobody yet", dxfattribs={"char_height": 0.5}))
    blk.add_attdef("NUMBER", (0, 2), dxfattribs={"prompt": "Number", "height": 0.5})
    msp = doc.modelspace()
    ref = msp.add_blockref("NOTE", (0, 0))
    att = ref.add_attrib("REMARK", "", (0, 1), dxfattribs={"height": 0.5})
    long_line = " ".join("word%02d" % i for i in range(40))
    att.embed_mtext(msp.add_mtext("First line\\P" + long_line + "\\PLast line",
                                  dxfattribs={"char_height": 0.5, "insert": (0, 1)}))
    ref.add_attrib("NUMBER", "N-1", (0, 2), dxfattribs={"height": 0.5})
    msp.add_blockref("NOTE", (20, 0))  # lacks both attributes
    save(doc, "multiline_r2018.dxf")


def missing_r12():
    # R12 references that lack attributes their block defines: one has none (no SEQEND).
    doc = ezdxf.new("R12")
    attributed_block(doc)
    msp = doc.modelspace()
    msp.add_blockref("TAG", (0, 0))
    msp.add_blockref("TAG", (20, 0)).add_attrib("NUMBER", "R12-1", (20, 1))
    save(doc, "missing_attribs_r12.dxf")


def dynamic():
    tool = os.path.join(HERE, "..", "..", "shared", "tools", "gen_drawing.py")
    path = os.path.join(HERE, "dynamic_blocks.dxf")
    subprocess.run([sys.executable, tool, "--refs", "30", "--blocks", "3", "--layers", "3",
                    "--dynamic", "2", path], check=True)
    print(path, os.path.getsize(path))


ALL = [attributes, layouts, cp1251, utf8, r12, binary, binary_r12, dynamic, multiline,
       missing_r12]

if __name__ == "__main__":
    # Names on the command line make only those samples ("multiline missing_r12").
    wanted = sys.argv[1:]
    for make in ALL:
        if not wanted or make.__name__ in wanted:
            make()
