#!/usr/bin/env python3
"""Writes an image file in the sparse form the VHDX and QCOW2 fuzz targets read (see
SparseImage.h): the file's length, then its runs of non-zero bytes.

    qemu-img convert -O vhdx -o block_size=1M disk.raw disk.vhdx
    tests/fuzz/sparse_seed.py disk.vhdx tests/fuzz/corpus/fuzz_vhdx/dynamic
"""
import struct
import sys

GAP = 16  # zero runs shorter than this stay inside a piece
MAX_PIECE = 0xFFFF


def pieces(data):
    i, n = 0, len(data)
    while i < n:
        while i < n and data[i] == 0:
            i += 1
        if i >= n:
            break
        start = end = i
        while end < n and end - start < MAX_PIECE:
            if data[end] != 0:
                end += 1
                continue
            zeros = end
            while zeros < n and data[zeros] == 0 and zeros - end < GAP:
                zeros += 1
            if zeros - end >= GAP or zeros >= n:
                break
            end = zeros
        end = min(end, start + MAX_PIECE)
        yield start, data[start:end]
        i = end


def main():
    data = open(sys.argv[1], 'rb').read()
    out = bytearray(struct.pack('<I', len(data)))
    for offset, chunk in pieces(data):
        out += struct.pack('<IH', offset, len(chunk)) + chunk
    open(sys.argv[2], 'wb').write(out)


if __name__ == '__main__':
    main()
