#!/usr/bin/env python3
"""Builds platform/posix/codepage_tables.inc from the recorded Windows conversion results.

Single-byte code pages get their 256 characters. Double-byte code pages get their single bytes,
lead bytes and default character, and the pairs in which the Windows table differs from the pair
table the POSIX backend derives from iconv at run time (see DerivedPair, which must match
DerivePairs in platform/posix/codepage_posix.cpp).

Run from the repository root: python3 scripts/codepage/cp_tables_gen.py
"""
import ctypes
import ctypes.util
import glob
import os
import re
import subprocess
import tempfile

DATA = 'tests/data/codepage'
OUT = 'platform/posix/codepage_tables.inc'
# Code pages converted by the backend's own decoders rather than by table.
OWN_DECODER = {65000, 65001}
# iconv names of the double-byte code pages.
DOUBLE_BYTE = {932: 'CP932', 936: 'CP936', 949: 'CP949', 950: 'CP950', 1361: 'JOHAB', 20932: 'EUC-JP-MS'}

libc = ctypes.CDLL(ctypes.util.find_library('c'), use_errno=True)
libc.iconv_open.restype = ctypes.c_void_p
libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
libc.iconv.restype = ctypes.c_size_t
libc.iconv.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t),
                       ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t)]


_INPUTS_EXE = []


def Inputs(cp):
    """The conversion test's inputs, from the shared header, built once by the host compiler."""
    if not _INPUTS_EXE:
        folder = tempfile.mkdtemp()
        src = os.path.join(folder, 'inputs.cpp')
        with open(src, 'w') as f:
            f.write('#include "tests/cp_corpus.h"\n#include <cstdio>\n#include <cstdlib>\n'
                    'int main(int, char** v) { for (auto& s : cp_corpus::Inputs(std::atoi(v[1]))) {'
                    ' for (unsigned char c : s) std::printf("%02X", c); std::printf("\\n"); } }\n')
        _INPUTS_EXE.append(os.path.join(folder, 'inputs'))
        subprocess.run(['g++', '-std=c++20', '-I.', src, '-o', _INPUTS_EXE[0]], check=True)
    out = subprocess.run([_INPUTS_EXE[0], str(cp)], capture_output=True, text=True, check=True).stdout
    return [bytes.fromhex(line) for line in out.split('\n')[:-1]]


def Load(path):
    lines = open(path).read().split('\n')
    head = lines[0].split()
    results = []
    for line in lines[1:]:
        if not line:
            continue
        if line[0] in '+=':
            for _ in range(int(line[1:])):
                nxt = list(results[-1])
                if line[0] == '+':
                    nxt[-1] += 1
                results.append(nxt)
        elif line == '.':
            results.append([])
        else:
            results.append([int(line[i:i + 4], 16) for i in range(0, len(line), 4)])
    return int(head[1]), head[2], results


def DerivedPair(cd, cp, lead, trail, default):
    data = bytes([0x8F, lead, trail | 0x80]) if cp == 20932 and 0x21 <= trail <= 0x7E else bytes([lead, trail])
    inbuf = ctypes.create_string_buffer(data, len(data))
    inp = ctypes.c_char_p(ctypes.addressof(inbuf))
    inleft = ctypes.c_size_t(len(data))
    outbuf = ctypes.create_string_buffer(8)
    outp = ctypes.c_char_p(ctypes.addressof(outbuf))
    outleft = ctypes.c_size_t(8)
    rc = libc.iconv(cd, ctypes.byref(inp), ctypes.byref(inleft), ctypes.byref(outp), ctypes.byref(outleft))
    libc.iconv(cd, None, None, None, None)
    if rc == ctypes.c_size_t(-1).value or inleft.value != 0 or outleft.value != 6:
        return default
    return outbuf.raw[0] | outbuf.raw[1] << 8


def Hex(values, per_line, indent):
    rows = []
    for i in range(0, len(values), per_line):
        rows.append(indent + ', '.join('0x%04X' % v for v in values[i:i + per_line]) + ',')
    return '\n'.join(rows)


def main():
    single, double = [], []
    for path in sorted(glob.glob(DATA + '/cp*.txt'), key=lambda p: int(re.findall(r'\d+', p)[-1])):
        cp, kind, results = Load(path)
        if kind != 'table' or cp in OWN_DECODER:
            continue
        singles = [r[0] for r in results[:256]]
        if cp not in DOUBLE_BYTE:
            single.append((cp, singles))
            continue
        inputs = Inputs(cp)
        pairs = {tuple(b): r for b, r in zip(inputs, results) if len(b) == 2 and b[0] >= 0x80}
        default = 0x30FB if cp in (932, 20932) else 0x3F
        # A lead byte is one whose pair with 'A' gives a single character.
        leads = [b for b in range(0x80, 0x100) if len(pairs[(b, 0x41)]) == 1]
        cd = libc.iconv_open(b'UTF-16LE', DOUBLE_BYTE[cp].encode())
        fixes = []  # (pair code, unit) where the Windows table differs from the derived one
        for lead in leads:
            for trail in range(1, 0x100):
                want = pairs[(lead, trail)]
                assert len(want) == 1, (cp, lead, trail)
                if DerivedPair(cd, cp, lead, trail, default) != want[0]:
                    fixes.append((lead << 8 | trail, want[0]))
        # Runs of consecutive pairs with consecutive characters: (first pair, count, first character).
        runs = []
        for code, unit in fixes:
            if runs and runs[-1][0] + runs[-1][1] == code and runs[-1][2] + runs[-1][1] == unit:
                runs[-1][1] += 1
            else:
                runs.append([code, 1, unit])
        lead_bits = [0] * 8
        for b in leads:
            lead_bits[b >> 5] |= 1 << (b & 31)
        double.append((cp, DOUBLE_BYTE[cp], default, singles, lead_bits, runs))

    out = ['// Generated by scripts/codepage/cp_tables_gen.py from tests/data/codepage. Do not edit.', '',
           '// Single-byte code pages: the character of every byte.',
           'constexpr ByteTable kByteTables[] = {']
    for cp, singles in single:
        out.append('    {%d, {' % cp)
        out.append(Hex(singles, 12, '        '))
        out.append('    }},')
    out.append('};')
    out.append('')
    for cp, name, default, singles, lead_bits, runs in double:
        out.append('constexpr PairRun kPairRuns%d[] = {' % cp)
        if not runs:
            out.append('    {0, 0, 0},  // none: iconv gives every pair as the Windows table does')
        for i in range(0, len(runs), 4):
            out.append('    ' + ' '.join('{0x%04X, %d, 0x%04X},' % tuple(r) for r in runs[i:i + 4]))
        out.append('};')
    out.append('')
    out.append('// Double-byte code pages: single bytes (a lead byte alone gives the default character),')
    out.append('// lead bytes, and the pairs whose characters differ from what iconv gives.')
    out.append('constexpr DoubleByteTable kDoubleByteTables[] = {')
    for cp, name, default, singles, lead_bits, runs in double:
        out.append('    {%d, "%s", 0x%04X,' % (cp, name, default))
        out.append('     {' + ', '.join('0x%08X' % b for b in lead_bits) + '},')
        out.append('     {')
        out.append(Hex(singles, 12, '        '))
        out.append('     },')
        out.append('     kPairRuns%d, std::size(kPairRuns%d)},' % (cp, cp))
    out.append('};')
    with open(OUT, 'w') as f:
        f.write('\n'.join(out) + '\n')
    print('%s: %d single-byte, %d double-byte code pages, %s pair runs' %
          (OUT, len(single), len(double), '/'.join(str(len(d[5])) for d in double)))


if __name__ == '__main__':
    main()
