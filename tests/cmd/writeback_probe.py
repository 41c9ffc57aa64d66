#!/usr/bin/python3
"""Compares a drawing before and after a write-back with ezdxf (the independent reader of the
write-back tests) and checks where the attributes of block references stand.

usage: writeback_probe.py BEFORE AFTER [HANDLE ...]

Prints "key<TAB>value" lines:
  changed / added / removed   handles whose records differ in their raw tags, or that appear or
                              disappear ("HEADER" for the header section, "#SECTION.N" for the
                              N-th record without a handle of a section)
  H.diff                      group codes of the tags that differ in record H
  layers_before / layers      the layer names of BEFORE and AFTER
  audit_before / audit_after  the codes of ezdxf's audit errors
For each HANDLE (in AFTER): type and layer; for an INSERT its insert point (WCS), rotation,
scale and attributes, and for each of those its tag, text (and multi-line text), field length,
and "placed": "ok" when it stands where its block's attribute definition lands under the
INSERT's transform (matrix44), "nodef" when the block has no definition of that tag, otherwise
what deviates.
"""
import io
import math
import sys

import ezdxf
from ezdxf.lldxf.loader import load_dxf_structure
from ezdxf.lldxf.tagger import ascii_tags_loader, binary_tags_loader
from ezdxf.math import Vec3

BINARY_SENTINEL = b"AutoCAD Binary DXF\r\n\x1a\x00"


def records(path):
    """Every record of the file as a list of (code, value) pairs, keyed by its handle."""
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(BINARY_SENTINEL):
        tagger = binary_tags_loader(data)
    else:
        text = data.replace(b"\r\n", b"\n").decode("utf-8", "surrogateescape")
        tagger = ascii_tags_loader(io.StringIO(text))
    out = {}
    for name, section in load_dxf_structure(tagger).items():
        unkeyed = 0
        for record in section:
            tags = [(t.code, str(t.value)) for t in record]
            if name == "HEADER":
                out["HEADER"] = tags
                continue
            handle = None
            for code, value in tags[1:]:
                if code in (5, 105):
                    handle = value.strip().upper()
                    break
            if handle is None:
                handle = "#%s.%d" % (name, unkeyed)
                unkeyed += 1
            out[handle] = tags
    return out


def diff_codes(a, b):
    rest = list(b)
    codes = set()
    for tag in a:
        if tag in rest:
            rest.remove(tag)
        else:
            codes.add(tag[0])
    codes.update(code for code, _ in rest)
    return " ".join(str(c) for c in sorted(codes))


def fmt(v):
    return ",".join("%.9g" % (0.0 if abs(c) < 1e-12 else c) for c in v)


def close(a, b, scale):
    return (Vec3(a) - Vec3(b)).magnitude <= 1e-7 * max(1.0, scale)


def text_frame(e):
    """The WCS reading direction and up direction of a TEXT-like entity."""
    ocs = e.ocs()
    rotation = math.radians(e.dxf.get("rotation", 0.0))
    x = ocs.to_wcs(Vec3.from_angle(rotation))
    up = ocs.to_wcs(Vec3.from_angle(rotation + math.pi / 2))
    if e.dxf.get("text_generation_flag", 0) & 2:  # backward: it reads the other way
        x = -x
    return x, up


def check_placement(attrib, attdef, m):
    problems = []
    size = max(1.0, m.transform(Vec3()).magnitude)
    expected = m.transform(attdef.ocs().to_wcs(attdef.dxf.insert))
    got = attrib.ocs().to_wcs(attrib.dxf.insert)
    if not close(expected, got, size):
        problems.append("insert expected %s got %s" % (fmt(expected), fmt(got)))
    aligned = attdef.dxf.get("halign", 0) != 0 or attdef.dxf.get("valign", 0) != 0
    if aligned and attdef.dxf.hasattr("align_point"):
        expected = m.transform(attdef.ocs().to_wcs(attdef.dxf.align_point))
        got = attrib.ocs().to_wcs(attrib.dxf.get("align_point", attrib.dxf.insert))
        if not close(expected, got, size):
            problems.append("align_point expected %s got %s" % (fmt(expected), fmt(got)))
    def_x, def_up = text_frame(attdef)
    want_x = m.transform_direction(def_x)
    want_up = m.transform_direction(def_up)
    got_x, got_up = text_frame(attrib)
    if not close(want_up.normalize(), got_up, 1):
        problems.append("up expected %s got %s" % (fmt(want_up.normalize()), fmt(got_up)))
    if got_x.dot(want_x) <= 0:
        problems.append("reads %s, expected along %s" % (fmt(got_x), fmt(want_x.normalize())))
    height = attdef.dxf.height * want_up.magnitude
    if abs(attrib.dxf.height - height) > 1e-7 * max(1.0, height):
        problems.append("height expected %.9g got %.9g" % (height, attrib.dxf.height))
    # A multi-line attribute's own text object moves with it.
    if attdef.has_embedded_mtext_entity and attrib.has_embedded_mtext_entity:
        expected = m.transform(attdef.virtual_mtext_entity().dxf.insert)
        got = attrib.virtual_mtext_entity().dxf.insert
        if not close(expected, got, size):
            problems.append("mtext insert expected %s got %s" % (fmt(expected), fmt(got)))
    # The text lies in the transformed plane of the definition's text.
    normal = Vec3(attrib.dxf.get("extrusion", (0, 0, 1))).normalize()
    plane = want_x.cross(want_up).normalize()
    if abs(abs(normal.dot(plane)) - 1) > 1e-7:
        problems.append("extrusion %s not normal to %s" % (fmt(normal), fmt(plane)))
    return "; ".join(problems) if problems else "ok"


def main():
    before_path, after_path, handles = sys.argv[1], sys.argv[2], sys.argv[3:]
    out = []
    before, after = records(before_path), records(after_path)
    changed = sorted(h for h in before if h in after and before[h] != after[h])
    out.append(("changed", " ".join(changed)))
    out.append(("added", " ".join(sorted(h for h in after if h not in before))))
    out.append(("removed", " ".join(sorted(h for h in before if h not in after))))
    for h in changed:
        out.append((h + ".diff", diff_codes(before[h], after[h])))

    old = ezdxf.readfile(before_path)
    doc = ezdxf.readfile(after_path)
    out.append(("layers_before", ",".join(sorted(layer.dxf.name for layer in old.layers))))
    out.append(("layers", ",".join(sorted(layer.dxf.name for layer in doc.layers))))
    for h in handles:
        e = doc.entitydb.get(h)
        if e is None:
            out.append((h + ".type", "none"))
            continue
        out.append((h + ".type", e.dxftype()))
        out.append((h + ".layer", e.dxf.get("layer", "")))
        if e.dxftype() == "INSERT":
            out.append((h + ".insert", fmt(e.ocs().to_wcs(e.dxf.insert))))
            out.append((h + ".rotation", "%.9g" % e.dxf.get("rotation", 0)))
            scale = (e.dxf.get("xscale", 1), e.dxf.get("yscale", 1), e.dxf.get("zscale", 1))
            out.append((h + ".scale", fmt(scale)))
            out.append((h + ".attribs", ",".join(a.dxf.handle for a in e.attribs)))
            block = e.block()
            m = e.matrix44()
            for a in e.attribs:
                key = a.dxf.handle
                out.append((key + ".tag", a.dxf.tag))
                out.append((key + ".text", a.dxf.text))
                out.append((key + ".field_length", str(a.dxf.get("field_length", 0))))
                if a.has_embedded_mtext_entity:
                    out.append((key + ".mtext", a.virtual_mtext_entity().text))
                defs = [d for d in block.query("ATTDEF")
                        if d.dxf.tag.casefold() == a.dxf.tag.casefold()] if block else []
                out.append((key + ".placed", check_placement(a, defs[0], m) if defs else "nodef"))
    out.append(("audit_before", " ".join(sorted(str(err.code) for err in old.audit().errors))))
    out.append(("audit_after", " ".join(sorted(str(err.code) for err in doc.audit().errors))))
    for key, value in out:
        sys.stdout.write("%s\t%s\n" % (key, str(value).replace("\n", "\\n")))


if __name__ == "__main__":
    main()
