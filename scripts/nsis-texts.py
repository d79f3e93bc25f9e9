#!/usr/bin/env python3
"""Prints the texts an NSIS installer or uninstaller carries, one a line: the
strings of its script and of its language tables, from the compressed header
(a Unicode NSIS 3 file, LZMA, not solid: what cmake/packaging-windows.cmake
makes). scripts/windows-package.sh looks in them for English."""
import lzma
import re
import struct
import sys

data = open(sys.argv[1], 'rb').read()
# The first header: flags, 0xDEADBEEF, "NullsoftInst", header size, data size;
# then the header block's compressed length (top bit: compressed) and LZMA
# (5 bytes of properties, then the raw stream).
signature = data.find(b'\xef\xbe\xad\xdeNullsoftInst')
if signature < 0:
    sys.exit(f'{sys.argv[1]}: not an NSIS installer')
pos = signature + 24
(length,) = struct.unpack_from('<I', data, pos)
if not length & 0x80000000:
    sys.exit(f'{sys.argv[1]}: header not compressed')
block = data[pos + 4:pos + 4 + (length & 0x7FFFFFFF)]
lzma1 = lzma._decode_filter_properties(lzma.FILTER_LZMA1, block[:5])
header = lzma.LZMADecompressor(lzma.FORMAT_RAW, filters=[lzma1]).decompress(block[5:])
# UTF-16 strings; NSIS's variable and language codes sit in the private-use
# area and end a piece.
for text in re.findall(r'[^\x00-\x1f\ue000-\uffff]{4,}', header.decode('utf-16-le', 'replace')):
    print(text)
