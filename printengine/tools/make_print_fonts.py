#!/usr/bin/python3
"""Makes the print fonts: copies of the SC faces of Noto Serif CJK and Noto
Sans CJK whose glyphs each answer to one code point, so that a PDF's text
(its ToUnicode map, built from the first code point that reaches a glyph)
reads back as the characters that were printed.

  make_print_fonts.py <output folder> <source .ttc>=<family>=<file> ...

- Where several code points reach one glyph, only the one that GB2312 uses is
  kept (else the one in CJK Unified Ideographs); the others (Kangxi radicals,
  U+2329/U+232A beside 〈 〉, ...) are dropped and print from the original font.
- The `locl` feature does nothing: its swaps lead to glyphs that no code point
  reaches, which then vanish from the PDF's text.
- The copies carry family names of their own, so they never stand in for the
  originals elsewhere on the machine.
"""
import collections
import os
import sys

from fontTools.ttLib import TTCollection, TTFont

SOURCE_FAMILY_SUFFIX = " SC"
STYLE = "Regular"


def gb2312_code_points():
    """Every character of GB2312 (and ASCII), as Chinese systems decode it
    today (GB18030: A1A4 is U+00B7, A1AA is U+2014)."""
    points = set(range(0x20, 0x7F))
    for row in range(0xA1, 0xF8):
        for cell in range(0xA1, 0xFF):
            raw = bytes((row, cell))
            try:
                raw.decode("gb2312")
            except UnicodeDecodeError:
                continue
            points.add(ord(raw.decode("gb18030")))
    return points


def is_unified_ideograph(cp):
    return 0x4E00 <= cp <= 0x9FFF


def dropped_code_points(cmap, gb2312):
    by_glyph = collections.defaultdict(list)
    for cp, glyph in cmap.items():
        by_glyph[glyph].append(cp)
    dropped = set()
    for cps in by_glyph.values():
        if len(cps) < 2:
            continue
        keep = [cp for cp in cps if cp in gb2312] or [cp for cp in cps if is_unified_ideograph(cp)]
        if len(keep) == 1:
            dropped.update(cp for cp in cps if cp != keep[0])
    return dropped


def drop_from_cmap(font, dropped):
    for table in font["cmap"].tables:
        if table.format == 14:
            # Variation sequences on a dropped base character go with it.
            for selector, pairs in table.uvsDict.items():
                table.uvsDict[selector] = [p for p in pairs if p[0] not in dropped]
        elif table.isUnicode():
            for cp in dropped:
                table.cmap.pop(cp, None)


def empty_locl(font):
    emptied = 0
    for tag in ("GSUB", "GPOS"):
        if tag not in font:
            continue
        features = font[tag].table.FeatureList
        if not features:
            continue
        for record in features.FeatureRecord:
            if record.FeatureTag == "locl":
                record.Feature.LookupListIndex = []
                record.Feature.LookupCount = 0
                emptied += 1
    return emptied


def rename(font, family):
    postscript = family.replace(" ", "") + "-" + STYLE
    # Full name (4) of a Regular face is the family name.
    texts = {1: family, 2: STYLE, 3: postscript, 4: family, 6: postscript, 16: family, 17: STYLE}
    name = font["name"]
    # Localised and Macintosh names would still read "Noto ...": drop them.
    name.names = [r for r in name.names if r.platformID == 3 and r.langID == 0x409
                  and r.nameID not in texts]
    for name_id, text in texts.items():
        name.setName(text, name_id, 3, 1, 0x409)


def source_face(path):
    wanted = None
    for index, face in enumerate(TTCollection(path, lazy=True).fonts):
        family = face["name"].getDebugName(1) or ""
        if family.endswith(SOURCE_FAMILY_SUFFIX):
            wanted = index
    if wanted is None:
        sys.exit("make_print_fonts: no SC face in " + path)
    # The glyph order is set from a throw-away reading: taking it from the
    # font itself would load its CFF table, which then is compiled anew on
    # save (a minute per font instead of a second). Untouched tables are
    # copied byte for byte. Not lazy: changes to lazily read layout tables
    # are lost on save.
    order = TTFont(path, fontNumber=wanted, lazy=True).getGlyphOrder()
    font = TTFont(path, fontNumber=wanted, recalcBBoxes=False, recalcTimestamp=False)
    font.setGlyphOrder(order)
    return font


def make(source, family, target, gb2312):
    font = source_face(source)
    dropped = dropped_code_points(font.getBestCmap(), gb2312)
    drop_from_cmap(font, dropped)
    emptied = empty_locl(font)
    rename(font, family)
    assert not font.isLoaded("CFF ")
    partial = target + ".part"
    font.save(partial, reorderTables=False)
    os.replace(partial, target)
    print("make_print_fonts: %s (%s) from %s: %d code points dropped, %d locl features emptied"
          % (target, family, os.path.basename(source), len(dropped), emptied))


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    gb2312 = gb2312_code_points()
    for spec in argv[2:]:
        source, family, file_name = spec.split("=")
        make(source, family, os.path.join(out, file_name), gb2312)


if __name__ == "__main__":
    main(sys.argv)
