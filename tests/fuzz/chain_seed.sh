#!/usr/bin/env bash
# Writes the fuzz_chain seeds: two-layer chains made by qemu-img and qemu-io (a VMDK delta on a
# sparse VMDK, a QCOW2 overlay on a QCOW2 base), each as the target reads it: the child's length
# in the sparse form, the child, then the parent (see fuzz_chain.cpp and sparse_seed.py).
#   tests/fuzz/chain_seed.sh [OUT_DIR]     (default: tests/fuzz/corpus/fuzz_chain)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/corpus/fuzz_chain}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
cd "$work"
pack() { # CHILD PARENT OUT
    "$here/sparse_seed.py" "$1" child.sparse
    "$here/sparse_seed.py" "$2" parent.sparse
    python3 -c "import struct,sys; c=open('child.sparse','rb').read(); p=open('parent.sparse','rb').read(); open(sys.argv[1],'wb').write(struct.pack('<I',len(c))+c+p)" "$3"
}
qemu-img create -q -f vmdk base.vmdk 2M
qemu-io -f vmdk -c 'write -P 0x11 0 8k' -c 'write -P 0x22 1M 4k' base.vmdk >/dev/null
qemu-img create -q -f vmdk -b base.vmdk -F vmdk child.img
qemu-io -f vmdk -c 'write -P 0x33 64k 4k' child.img >/dev/null
pack child.img base.vmdk "$out/vmdk-delta"
rm -f base.* child.img
qemu-img create -q -f qcow2 -o cluster_size=4096 base.qcow2 2M
qemu-io -f qcow2 -c 'write -P 0x11 0 16k' -c 'write -P 0x22 1M 8k' base.qcow2 >/dev/null
qemu-img create -q -f qcow2 -o cluster_size=4096 -b base.qcow2 -F qcow2 child.img
qemu-io -f qcow2 -c 'write -P 0x33 4k 8k' child.img >/dev/null
pack child.img base.qcow2 "$out/qcow2-overlay"
