#!/usr/bin/python3
"""What ezdxf (the independent reader of the drawing tests) sees of block names and attributes.

usage: ezdxf_view.py blocks FILE...     for each FILE, "FILE<TAB>path", then one line per named
                                         block in BLOCK_RECORD order: "name<TAB>0|1" (1: the
                                         block holds ATTDEF entities). Anonymous blocks (name
                                         starting with "*", or BLOCK flag 1) are left out, and
                                         so are the layout blocks.
       ezdxf_view.py attribs FILE...    for each FILE, "FILE<TAB>path", then for every INSERT of
                                         the layouts and block definitions "REF<TAB>handle<TAB>n"
                                         and n lines "tag<TAB>prompt<TAB>value<TAB>0|1": the
                                         ATTDEFs of its block in order (1: constant), valued by
                                         the INSERT's ATTRIBs as a user reads them (see below).
       ezdxf_view.py edge-cases OUT     writes the drawing of the attribute edge cases.
Texts are written with backslash, tab and line break escaped as \\\\, \\t and \\n.
"""
import sys

import ezdxf


def esc(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def is_layout_name(name):
    upper = name.upper()
    return upper.startswith("*MODEL_SPACE") or upper.startswith("*PAPER_SPACE") or \
        upper.startswith("$MODEL_SPACE") or upper.startswith("$PAPER_SPACE")


def blocks(path, out):
    doc = ezdxf.readfile(path)
    for record in doc.block_records:
        name = record.dxf.name
        block = doc.blocks.get(name)
        if block is None or is_layout_name(name) or block.is_any_layout:
            continue
        if name.startswith("*") or block.block.dxf.get("flags", 0) & 1:
            continue
        has = any(e.dxftype() == "ATTDEF" for e in block)
        out.append("%s\t%d" % (esc(name), 1 if has else 0))


def text_of(entity):
    if entity.has_embedded_mtext_entity:
        return entity.virtual_mtext_entity().text
    return entity.dxf.get("text", "")


def attribs(path, out):
    doc = ezdxf.readfile(path)
    for layout in doc.layouts_and_blocks():
        for insert in layout.query("INSERT"):
            block = doc.blocks.get(insert.dxf.name)
            if block is None:
                continue
            entries = []
            for e in block:
                if e.dxftype() == "ATTDEF":
                    entries.append([e.dxf.tag, e.dxf.get("prompt", ""), text_of(e), e.is_const])
            # A reference's attributes fill the definitions they were made from: as many of
            # them, in order, as the block defines; every definition with the tag takes it.
            for k, attrib in enumerate(insert.attribs):
                if k >= len(entries):
                    break
                for entry in entries:
                    if entry[0].lower() == attrib.dxf.tag.lower():
                        entry[2] = text_of(attrib)
            out.append("REF\t%s\t%d" % (insert.dxf.handle, len(entries)))
            for tag, prompt, value, const in entries:
                out.append("%s\t%s\t%s\t%d" % (esc(tag), esc(prompt), esc(value), 1 if const else 0))


def edge_cases(path):
    doc = ezdxf.new("R2010")
    msp = doc.modelspace()

    def attdef(block, tag, text, prompt="", const=False):
        block.add_attdef(tag, (0, 0), text, dxfattribs={"prompt": prompt, "flags": 2 if const else 0})

    def insert(name, at, attribs, layer="0"):
        ref = msp.add_blockref(name, (at, 0), dxfattribs={"layer": layer})
        for tag, text in attribs:
            ref.add_attrib(tag, text, (at, 0))
        return ref

    plain = doc.blocks.new("PLAIN")  # geometry only
    plain.add_line((0, 0), (1, 1))
    room = doc.blocks.new("ROOM")
    room.add_line((0, 0), (1, 0))
    attdef(room, "NUMBER", "000", "Room number")
    attdef(room, "KIND", "office", const=True)
    attdef(room, "Name", "unnamed", "Room name")
    attdef(room, "RAUMNUTZUNG_Ä", "-", "Nutzung")
    dup = doc.blocks.new("DUP")
    attdef(dup, "DUP", "d1")
    attdef(dup, "OTHER", "o")
    attdef(dup, "DUP", "d2")
    two = doc.blocks.new("TWO")
    attdef(two, "A", "a-default")
    attdef(two, "B", "b-default")

    msp.add_line((0, 5), (10, 5))
    insert("PLAIN", 0, [])
    # 2: every definition answered, tags in other letter cases, non-ASCII ones folded.
    insert("ROOM", 10, [("number", "101"), ("NAME", "Büro"), ("raumnutzung_ä", "Lager")])
    # 3: an attribute missing (the reference keeps the definition's default for it).
    insert("ROOM", 20, [("NUMBER", "102"), ("RAUMNUTZUNG_Ä", "Flur")])
    # 4: two definitions with one tag; two attributes with it, the later wins.
    insert("DUP", 30, [("DUP", "first"), ("OTHER", "x"), ("DUP", "second")])
    # 5: more attributes than definitions: only the first two take part, an unknown tag
    # among them.
    insert("TWO", 40, [("ZZ", "unknown"), ("A", "a1"), ("B", "late"), ("A", "later")])
    # 6: a reference that answers one tag only, held by the constant attribute too.
    insert("ROOM", 50, [("KIND", "lab")])
    msp.add_circle((0, 0), 2)
    doc.saveas(path)


def main():
    mode = sys.argv[1]
    if mode == "edge-cases":
        edge_cases(sys.argv[2])
        return
    out = []
    for path in sys.argv[2:]:
        out.append("FILE\t" + path)
        (blocks if mode == "blocks" else attribs)(path, out)
    sys.stdout.buffer.write(("\n".join(out) + "\n").encode("utf-8"))


if __name__ == "__main__":
    main()
