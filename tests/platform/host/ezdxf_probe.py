#!/usr/bin/python3
"""Reads a drawing with ezdxf (the independent reader of the host tests) and prints what it sees.

usage: ezdxf_probe.py FILE [HANDLE ...]
Prints "key<TAB>value" lines: the audit's error codes, whether $HANDSEED is above every handle,
and for each HANDLE its type, owner, layer, and for ATTRIB/ATTDEF/INSERT their values.
"""
import sys

import ezdxf


def main():
    path = sys.argv[1]
    out = []
    # The handles as written (ezdxf renumbers nothing, but adds objects of its own on load).
    with open(path, "rb") as f:
        lines = f.read().decode("utf-8", "replace").splitlines()
    seed, highest = 0, 0
    for i in range(0, len(lines) - 1, 2):
        code, value = lines[i].strip(), lines[i + 1].strip()
        if code == "9" and value == "$HANDSEED" and lines[i + 2].strip() == "5":
            seed = int(lines[i + 3].strip(), 16)
        elif code in ("5", "105") and lines[i - 1].strip() != "$HANDSEED":
            try:
                highest = max(highest, int(value, 16))
            except ValueError:  # a value line of a group code 5 that is not a handle
                pass
    out.append(("seed_above", "1" if seed > highest else "0"))
    doc = ezdxf.readfile(path)
    for h in sys.argv[2:]:
        e = doc.entitydb.get(h)
        if e is None:
            out.append((h + ".type", "none"))
            continue
        out.append((h + ".type", e.dxftype()))
        out.append((h + ".owner", e.dxf.get("owner", "")))
        out.append((h + ".layer", e.dxf.get("layer", "")))
        if e.dxftype() in ("ATTRIB", "ATTDEF", "INSERT"):
            p = e.dxf.insert
            out.append((h + ".insert", "%.9g,%.9g,%.9g" % (p.x, p.y, p.z)))
            out.append((h + ".rotation", "%.9g" % e.dxf.get("rotation", 0)))
        if e.dxftype() in ("ATTRIB", "ATTDEF"):
            out.append((h + ".tag", e.dxf.tag))
            out.append((h + ".text", e.dxf.text))
            out.append((h + ".height", "%.9g" % e.dxf.height))
            if e.has_embedded_mtext_entity:
                out.append((h + ".mtext", e.virtual_mtext_entity().text))
        if e.dxftype() == "INSERT":
            out.append((h + ".scale", "%.9g,%.9g,%.9g" % (e.dxf.xscale, e.dxf.yscale, e.dxf.zscale)))
            out.append((h + ".attribs", ",".join(a.dxf.handle + "=" + a.dxf.tag for a in e.attribs)))
    auditor = doc.audit()
    codes = sorted(str(err.code) for err in auditor.errors)
    out.append(("audit", " ".join(codes)))
    for key, value in out:
        sys.stdout.write("%s\t%s\n" % (key, str(value).replace("\n", "\\n")))


if __name__ == "__main__":
    main()
