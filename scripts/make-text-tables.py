#!/usr/bin/env python3
"""Writes the tables the composer lookup reads a page's text with, from lists the machine has:

  app/HtmlReferences.inc      the named character references of HTML, from Python's
                              html.entities.html5 (the 2,231 names of the HTML standard's list,
                              the legacy ones without ";" among them);
  runtime/CharsetLabels.inc   the labels a web page may name its character set with, each with
                              the set it stands for and the name glibc's iconv knows that set by;
                              every label is checked against Node.js's TextDecoder when node is
                              installed;
  runtime/CodePointTables.inc what a code point is to a reader (white space, invisible, a
                              combining mark), the letter without its marks for the letters
                              Windows-1252 lacks, and the letter-and-mark pairs Windows-1252 holds
                              as one character, from Python's unicodedata.

Run it from the repository's top folder with Debian's python3 and commit what it writes:
    python3 scripts/make-text-tables.py
"""

import html.entities
import json
import re
import shutil
import subprocess
import sys
import unicodedata

HEADER = "// Written by scripts/make-text-tables.py{}; do not edit.\n"

# Character sets as the web names them: the set, the name glibc's iconv knows it by (empty for
# the sets decoded without iconv), and its labels.
CHARSETS = [
    ("utf-8", "", "unicode-1-1-utf-8 unicode11utf8 unicode20utf8 utf-8 utf8 x-unicode20utf8"),
    ("ibm866", "IBM866", "866 cp866 csibm866 ibm866"),
    ("iso-8859-2", "ISO-8859-2",
     "csisolatin2 iso-8859-2 iso-ir-101 iso8859-2 iso88592 iso_8859-2 iso_8859-2:1987 l2 latin2"),
    ("iso-8859-3", "ISO-8859-3",
     "csisolatin3 iso-8859-3 iso-ir-109 iso8859-3 iso88593 iso_8859-3 iso_8859-3:1988 l3 latin3"),
    ("iso-8859-4", "ISO-8859-4",
     "csisolatin4 iso-8859-4 iso-ir-110 iso8859-4 iso88594 iso_8859-4 iso_8859-4:1988 l4 latin4"),
    ("iso-8859-5", "ISO-8859-5",
     "csisolatincyrillic cyrillic iso-8859-5 iso-ir-144 iso8859-5 iso88595 iso_8859-5 "
     "iso_8859-5:1988"),
    ("iso-8859-6", "ISO-8859-6",
     "arabic asmo-708 csiso88596e csiso88596i csisolatinarabic ecma-114 iso-8859-6 iso-8859-6-e "
     "iso-8859-6-i iso-ir-127 iso8859-6 iso88596 iso_8859-6 iso_8859-6:1987"),
    ("iso-8859-7", "ISO-8859-7",
     "csisolatingreek ecma-118 elot_928 greek greek8 iso-8859-7 iso-ir-126 iso8859-7 iso88597 "
     "iso_8859-7 iso_8859-7:1987 sun_eu_greek"),
    ("iso-8859-8", "ISO-8859-8",
     "csiso88598e csisolatinhebrew hebrew iso-8859-8 iso-8859-8-e iso-ir-138 iso8859-8 iso88598 "
     "iso_8859-8 iso_8859-8:1988 visual"),
    ("iso-8859-8-i", "ISO-8859-8", "csiso88598i iso-8859-8-i logical"),
    ("iso-8859-10", "ISO-8859-10",
     "csisolatin6 iso-8859-10 iso-ir-157 iso8859-10 iso885910 l6 latin6"),
    ("iso-8859-13", "ISO-8859-13", "iso-8859-13 iso8859-13 iso885913"),
    ("iso-8859-14", "ISO-8859-14", "iso-8859-14 iso8859-14 iso885914"),
    ("iso-8859-15", "ISO-8859-15",
     "csisolatin9 iso-8859-15 iso8859-15 iso885915 iso_8859-15 l9"),
    ("iso-8859-16", "ISO-8859-16", "iso-8859-16"),
    ("koi8-r", "KOI8-R", "cskoi8r koi koi8 koi8-r koi8_r"),
    ("koi8-u", "KOI8-U", "koi8-ru koi8-u"),
    ("macintosh", "MACINTOSH", "csmacintosh mac macintosh x-mac-roman"),
    ("windows-874", "WINDOWS-874",
     "dos-874 iso-8859-11 iso8859-11 iso885911 tis-620 windows-874"),
    ("windows-1250", "WINDOWS-1250", "cp1250 windows-1250 x-cp1250"),
    ("windows-1251", "WINDOWS-1251", "cp1251 windows-1251 x-cp1251"),
    ("windows-1252", "",
     "ansi_x3.4-1968 ascii cp1252 cp819 csisolatin1 ibm819 iso-8859-1 iso-ir-100 iso8859-1 "
     "iso88591 iso_8859-1 iso_8859-1:1987 l1 latin1 us-ascii windows-1252 x-cp1252"),
    ("windows-1253", "WINDOWS-1253", "cp1253 windows-1253 x-cp1253"),
    ("windows-1254", "WINDOWS-1254",
     "cp1254 csisolatin5 iso-8859-9 iso-ir-148 iso8859-9 iso88599 iso_8859-9 iso_8859-9:1989 l5 "
     "latin5 windows-1254 x-cp1254"),
    ("windows-1255", "WINDOWS-1255", "cp1255 windows-1255 x-cp1255"),
    ("windows-1256", "WINDOWS-1256", "cp1256 windows-1256 x-cp1256"),
    ("windows-1257", "WINDOWS-1257", "cp1257 windows-1257 x-cp1257"),
    ("windows-1258", "WINDOWS-1258", "cp1258 windows-1258 x-cp1258"),
    ("x-mac-cyrillic", "MAC-CYRILLIC", "x-mac-cyrillic x-mac-ukrainian"),
    ("gbk", "GB18030",
     "chinese csgb2312 csiso58gb231280 gb2312 gb_2312 gb_2312-80 gbk iso-ir-58 x-gbk"),
    ("gb18030", "GB18030", "gb18030"),
    ("big5", "BIG5-HKSCS", "big5 big5-hkscs cn-big5 csbig5 x-x-big5"),
    ("euc-jp", "EUC-JP", "cseucpkdfmtjapanese euc-jp x-euc-jp"),
    ("iso-2022-jp", "ISO-2022-JP", "csiso2022jp iso-2022-jp"),
    ("shift_jis", "WINDOWS-31J",
     "csshiftjis ms932 ms_kanji shift-jis shift_jis sjis windows-31j x-sjis"),
    ("euc-kr", "UHC",
     "cseuckr csksc56011987 euc-kr iso-ir-149 korean ks_c_5601-1987 ks_c_5601-1989 ksc5601 "
     "ksc_5601 windows-949"),
    ("replacement", "",
     "csiso2022kr hz-gb-2312 iso-2022-cn iso-2022-cn-ext iso-2022-kr replacement"),
    ("utf-16be", "UTF-16BE", "unicodefffe utf-16be"),
    ("utf-16le", "UTF-16LE",
     "csunicode iso-10646-ucs-2 ucs-2 unicode unicodefeff utf-16 utf-16le"),
    ("x-user-defined", "", "x-user-defined"),
]


def check_labels_with_node(labels):
    """Every label must name the same set in Node.js's TextDecoder (which refuses the
    replacement labels, as the standard says it must)."""
    if not shutil.which("node"):
        print("node not installed: the labels are not checked", file=sys.stderr)
        return
    script = """
const labels = JSON.parse(require('fs').readFileSync(0, 'utf8'));
const out = {};
for (const [label] of labels) {
  try { out[label] = new TextDecoder(label).encoding; } catch (e) { out[label] = 'replacement'; }
}
console.log(JSON.stringify(out));
"""
    found = json.loads(subprocess.run(["node", "-e", script], input=json.dumps(labels),
                                      capture_output=True, text=True, check=True).stdout)
    # Node.js also refuses the sets it does not carry (iso-8859-16, x-user-defined): those are
    # left unchecked.
    unchecked = sorted({name for label, name in labels
                        if found[label] == "replacement" and name != "replacement"})
    wrong = [(label, name, found[label]) for label, name in labels
             if found[label] != name and name not in unchecked]
    if wrong:
        sys.exit("labels that Node.js reads otherwise: %r" % wrong)
    if unchecked:
        print("not in Node.js, unchecked: " + ", ".join(unchecked), file=sys.stderr)


def write_labels():
    labels = sorted((label, name) for name, _, words in CHARSETS for label in words.split())
    check_labels_with_node(labels)
    iconv = {name: conv for name, conv, _ in CHARSETS}
    with open("runtime/CharsetLabels.inc", "w") as out:
        out.write(HEADER.format(""))
        out.write("// {label, the set it names, the set's name in iconv}, sorted by label.\n")
        for label, name in labels:
            out.write('{"%s", "%s", "%s"},\n' % (label, name, iconv[name]))


def c_string(text):
    return '"' + "".join(c if c.isalnum() or c == ";" else "\\x%02X" % ord(c) for c in text) + '"'


def write_references():
    names = sorted(html.entities.html5.items(), key=lambda item: item[0].encode())
    with open("app/HtmlReferences.inc", "w") as out:
        out.write(HEADER.format(" from Python's html.entities.html5"))
        out.write("// {name, first code point, second code point or 0}, sorted by name.\n")
        for name, text in names:
            points = [ord(c) for c in text] + [0]
            out.write("{%s, 0x%X, 0x%X},\n" % (c_string(name), points[0], points[1]))


def windows_1252():
    """The characters Windows-1252 holds, as a map from code point to byte."""
    held = {}
    for byte in range(256):
        try:
            held[ord(bytes([byte]).decode("cp1252"))] = byte
        except UnicodeDecodeError:
            pass
    return held


def ranges(points):
    """Sorted (first, last) runs of a set of code points."""
    runs = []
    for point in sorted(points):
        if runs and runs[-1][1] == point - 1:
            runs[-1][1] = point
        else:
            runs.append([point, point])
    return runs


LATIN_LETTER = re.compile(r"LATIN (SMALL|CAPITAL) LETTER (?:DOTLESS )?([A-Z])(?: WITH .*)?$")


def base_letter(point, held):
    """The Windows-1252 letter a letter Windows-1252 lacks is written as: its canonical
    decomposition's first character, or the letter its Unicode name is made of ("LATIN SMALL
    LETTER L WITH STROKE" is an l). None when it has none."""
    first = unicodedata.normalize("NFD", chr(point))[0]
    if ord(first) != point and ord(first) in held and first.isalpha():
        return held[ord(first)]
    match = LATIN_LETTER.match(unicodedata.name(chr(point), ""))
    if match:
        letter = match.group(2)
        return ord(letter.lower() if match.group(1) == "SMALL" else letter)
    return None


def write_code_points():
    held = windows_1252()
    white, invisible, marks, letters, dashes = set(), set(), set(), {}, set()
    for point in range(0x110000):
        category = unicodedata.category(chr(point))
        if category in ("Zs", "Zl", "Zp", "Cc"):
            white.add(point)
        elif category == "Cf":
            invisible.add(point)
        elif category in ("Mn", "Me"):
            marks.add(point)
        elif point in held:
            continue
        elif category == "Pd":
            dashes.add(point)
        elif category.startswith("L"):
            letter = base_letter(point, held)
            if letter is not None:
                letters[point] = letter
    pairs = []
    for point, byte in held.items():
        parts = unicodedata.normalize("NFD", chr(point))
        if len(parts) == 2 and ord(parts[0]) in held:
            pairs.append((held[ord(parts[0])], ord(parts[1]), byte))

    with open("runtime/CodePointTables.inc", "w") as out:
        out.write(HEADER.format(" from Python's unicodedata (Unicode %s)"
                                % unicodedata.unidata_version))
        out.write("// Runs of code points of one kind, {first, last, kind}, sorted.\n")
        out.write("inline constexpr CodePointRun kCodePointRuns[] = {\n")
        kinds = [(r, "CodePointKind::WhiteSpace") for r in ranges(white)]
        kinds += [(r, "CodePointKind::Invisible") for r in ranges(invisible)]
        kinds += [(r, "CodePointKind::Mark") for r in ranges(marks)]
        kinds += [(r, "CodePointKind::Dash") for r in ranges(dashes)]
        for (first, last), kind in sorted(kinds):
            out.write("    {0x%X, 0x%X, %s},\n" % (first, last, kind))
        out.write("};\n\n")
        out.write("// Letters Windows-1252 lacks, {code point, the byte of the letter without its "
                  "marks}, sorted.\n")
        out.write("inline constexpr BaseLetter kBaseLetters[] = {\n")
        for point in sorted(letters):
            out.write("    {0x%X, 0x%02X},\n" % (point, letters[point]))
        out.write("};\n\n")
        out.write("// A letter and a combining mark that Windows-1252 holds as one character, "
                  "{letter, mark, character}, sorted.\n")
        out.write("inline constexpr MarkedLetter kMarkedLetters[] = {\n")
        for letter, mark, byte in sorted(pairs):
            out.write("    {0x%02X, 0x%X, 0x%02X},\n" % (letter, mark, byte))
        out.write("};\n")


if __name__ == "__main__":
    write_labels()
    write_references()
    write_code_points()
