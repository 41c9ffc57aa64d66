#!/usr/bin/python3
"""What ezdxf (the independent reader of the export tests) sees of block references.

usage: ezdxf_refs.py FILE...    for each FILE "FILE<TAB>path", then
         "UNITS<TAB>$LUNITS<TAB>$LUPREC<TAB>$AUNITS<TAB>$AUPREC<TAB>$DIMZIN",
         and for every INSERT of the layouts and block definitions whose block exists
         "REF<TAB>handle<TAB>block<TAB>exported as<TAB>x<TAB>y<TAB>z<TAB>rotation (degrees)
          <TAB>sx<TAB>sy<TAB>sz<TAB>layer<TAB>owner"
       "exported as" is the dynamic block's name for a reference of one of its anonymous *U
       variants (the variant's BLOCK_RECORD XDATA AcDbBlockRepBTag points at it), else the
       block's name; x, y, z are world coordinates; owner is "layout" or "block".
       ezdxf_refs.py make-options OUT   writes the drawing of the option tests.
Texts escape backslash, tab and line break as \\\\, \\t and \\n.
"""
import sys

import ezdxf


def esc(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def dynamic_name(doc, name):
    record = doc.block_records.get(name)
    if record is None or not name.startswith("*"):
        return name
    try:
        tags = record.get_xdata("AcDbBlockRepBTag")
    except ezdxf.DXFValueError:
        return name
    for code, value in tags:
        if code == 1005:
            target = doc.entitydb.get(value)
            if target is not None:
                return target.dxf.name
    return name


def refs(path, out):
    doc = ezdxf.readfile(path)
    h = doc.header
    out.append("UNITS\t%d\t%d\t%d\t%d\t%d" % (h.get("$LUNITS", 2), h.get("$LUPREC", 4),
                                              h.get("$AUNITS", 0), h.get("$AUPREC", 0),
                                              h.get("$DIMZIN", 0)))
    for layout in doc.layouts_and_blocks():
        owner = "layout" if layout.is_any_layout else "block"
        for insert in layout.query("INSERT"):
            name = insert.dxf.name
            if doc.blocks.get(name) is None:
                continue
            p = insert.ocs().to_wcs(insert.dxf.insert)
            out.append("REF\t%s\t%s\t%s\t%r\t%r\t%r\t%r\t%r\t%r\t%r\t%s\t%s" % (
                insert.dxf.handle, esc(name), esc(dynamic_name(doc, name)), p.x, p.y, p.z,
                insert.dxf.get("rotation", 0.0), insert.dxf.get("xscale", 1.0),
                insert.dxf.get("yscale", 1.0), insert.dxf.get("zscale", 1.0),
                esc(insert.dxf.get("layer", "0")), owner))


def make_options(path):
    """Block ROOM with a constant attribute among three, references with negative
    coordinates, a mirrored one, other layers; decimal units with 2 places, degrees with 1."""
    doc = ezdxf.new("R2010")
    doc.header["$LUNITS"] = 2
    doc.header["$LUPREC"] = 2
    doc.header["$AUNITS"] = 0
    doc.header["$AUPREC"] = 1
    doc.header["$DIMZIN"] = 0
    for name in ("A-Rooms", "B-Other"):
        doc.layers.add(name)
    msp = doc.modelspace()
    room = doc.blocks.new("ROOM")
    room.add_line((0, 0), (1, 0))
    room.add_attdef("NUMBER", (0, 0), "000", dxfattribs={"prompt": "Room number"})
    room.add_attdef("KIND", (0, 0), "office", dxfattribs={"prompt": "Kind", "flags": 2})
    room.add_attdef("area", (0, 0), "0", dxfattribs={"prompt": "Area m2"})
    bare = doc.blocks.new("BARE")
    bare.add_circle((0, 0), 1)
    doc.blocks.new("UNUSED").add_attdef("X", (0, 0), "x")

    def add(at, rotation, scale, layer, values):
        ref = msp.add_blockref("ROOM", at, dxfattribs={
            "rotation": rotation, "xscale": scale[0], "yscale": scale[1], "zscale": scale[2],
            "layer": layer})
        for tag, text in values:
            ref.add_attrib(tag, text, at)
        return ref

    add((-100.5, 20, -3), 30, (1, 1, 1), "A-Rooms", [("NUMBER", "007"), ("area", "12.5")])
    add((40.125, -7.25, 0), 0, (-1, 2, 1), "B-Other", [("NUMBER", "101"), ("area", "=1+1")])
    add((1, 2, 3), 90, (1, 1, 1), "a-rooms", [("NUMBER", "102"), ("area", "1/2")])
    msp.add_blockref("BARE", (5, 5), dxfattribs={"layer": "B-Other"})
    # A name longer than a worksheet tab may be (31 characters).
    long_block = doc.blocks.new("LONG_BLOCK_NAME_FOR_A_WORKSHEET_TAB_1")
    long_block.add_attdef("TAG", (0, 0), "t")
    msp.add_blockref("LONG_BLOCK_NAME_FOR_A_WORKSHEET_TAB_1", (9, 9)).add_attrib("TAG", "long", (9, 9))
    doc.saveas(path)


def main():
    if sys.argv[1] == "make-options":
        make_options(sys.argv[2])
        return
    out = []
    for path in sys.argv[1:]:
        out.append("FILE\t" + path)
        refs(path, out)
    sys.stdout.buffer.write(("\n".join(out) + "\n").encode("utf-8"))


main()
