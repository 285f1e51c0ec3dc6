#!/usr/bin/env python3
"""Writes differencing VHDs (disk type 4) over a parent VHD, for the chain benchmarks.

usage: make-vhd-chain.py PARENT.vhd CHILD.vhd SEED PERCENT [RAW]
  Each 2 MiB block is stored in the child with probability PERCENT/100; a stored block holds
  random data in its first half of sectors (its bitmap marks exactly those), the rest comes from
  the parent. With RAW (the parent's disk as a raw file), the child's sectors are also written
  into RAW, so that RAW stays the disk the child shows.
usage: make-vhd-chain.py --empty PARENT.vhd CHILD.vhd
  A child that holds nothing (for deep chains over a large disk).
usage: make-vhd-chain.py --base BYTES BASE.vhd
  An empty dynamic VHD of that size (qemu-img stops short of 2 TiB for this format).
"""
import os
import random
import struct
import sys

BLOCK = 2 << 20
SECTORS = BLOCK // 512
BITMAP = 512


def footer_of(path):
    with open(path, 'rb') as f:
        f.seek(-512, os.SEEK_END)
        return f.read(512)


def checksum(b):
    return (~sum(b)) & 0xFFFFFFFF


def make_footer(size, unique_id, disk_type=4):
    f = bytearray(512)
    f[0:8] = b'conectix'
    struct.pack_into('>IIQI', f, 8, 2, 0x00010000, 512, 0)
    struct.pack_into('>QQ', f, 40, size, size)
    struct.pack_into('>HBBI', f, 56, 1024, 16, 63, disk_type)
    f[68:84] = unique_id
    struct.pack_into('>I', f, 64, checksum(f))
    return bytes(f)


def make_base(size, path):
    blocks = (size + BLOCK - 1) // BLOCK
    table_bytes = (blocks * 4 + 511) // 512 * 512
    header = bytearray(1024)
    header[0:8] = b'cxsparse'
    struct.pack_into('>QQIII', header, 8, 0xFFFFFFFFFFFFFFFF, 1536, 0x00010000, blocks, BLOCK)
    struct.pack_into('>I', header, 36, checksum(header))
    foot = make_footer(size, os.urandom(16), 3)
    with open(path, 'wb') as out:
        out.write(foot)
        out.write(header)
        out.write(b'\xff' * table_bytes)
        out.write(foot)


def main():
    if sys.argv[1] == '--base':
        make_base(int(sys.argv[2]), sys.argv[3])
        return
    empty = sys.argv[1] == '--empty'
    args = sys.argv[2:] if empty else sys.argv[1:]
    parent, child = args[0], args[1]
    seed = int(args[2]) if not empty else 0
    percent = int(args[3]) if not empty else 0
    raw = args[4] if len(args) > 4 else None
    pf = footer_of(parent)
    size = struct.unpack_from('>Q', pf, 48)[0]
    parent_id = pf[68:84]
    blocks = (size + BLOCK - 1) // BLOCK
    rng = random.Random(seed)
    unique_id = bytes(rng.getrandbits(8) for _ in range(16))
    table_bytes = (blocks * 4 + 511) // 512 * 512
    name = os.path.basename(parent)
    rel = ('.\\' + name).encode('utf-16-le')
    locator_at = 1536 + table_bytes
    data_at = locator_at + 512
    header = bytearray(1024)
    header[0:8] = b'cxsparse'
    struct.pack_into('>QQIII', header, 8, 0xFFFFFFFFFFFFFFFF, 1536, 0x00010000, blocks, BLOCK)
    header[40:56] = parent_id
    header[64:64 + 2 * len(name)] = name.encode('utf-16-be')
    struct.pack_into('>IIIIQ', header, 576, 0x57327275, 512, len(rel), 0, locator_at)
    struct.pack_into('>I', header, 36, checksum(header))
    bat = bytearray(b'\xff' * table_bytes)
    foot = make_footer(size, unique_id)
    rawf = open(raw, 'r+b') if raw else None
    with open(child, 'wb') as out:
        out.write(foot)
        out.write(header)
        out.write(bat)
        out.write(rel.ljust(512, b'\0'))
        at = data_at
        bitmap = bytearray(BITMAP)
        for i in range(SECTORS // 2):
            bitmap[i // 8] |= 0x80 >> (i % 8)
        for b in range(blocks):
            if empty or rng.randrange(100) >= percent:
                continue
            struct.pack_into('>I', bat, 4 * b, at // 512)
            data = os.urandom(BLOCK // 2)
            out.seek(at)
            out.write(bitmap)
            out.write(data)
            out.write(bytes(BLOCK // 2))
            if rawf:
                rawf.seek(b * BLOCK)
                rawf.write(data)
            at += BITMAP + BLOCK
        out.seek(1536)
        out.write(bat)
        out.seek(at)
        out.write(foot)
    if rawf:
        rawf.close()


if __name__ == '__main__':
    main()
