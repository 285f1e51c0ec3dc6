#!/usr/bin/env bash
# Speed of signature carving with the default signatures against PhotoRec and foremost on the
# same raw volume, and against `cat` of it (the physical limit), all page-cached, in one run:
#   vindaru-cli carve IMAGE --start 0 --type RAW --extent FLAT [--out DIR]
#   photorec /log /d DIR /cmd IMAGE partition_none,fileopt,everything,disable,jpg,enable,png,enable,pdf,enable,wholespace,search
#   foremost -i IMAGE -o DIR                 (its default mode)
#   cat IMAGE > /dev/null
# The vindaru time is given listing only (the carve itself) and with its finds saved; the peers
# always save. Every output folder is in memory (/dev/shm when there is room). Goals: no slower
# than PhotoRec, at least 2x faster than foremost, the listing within 1.25x of cat, at least as
# many placed files written byte for byte (md5) as PhotoRec, and the bytes written within 1 % of
# the placed files' (bench/carve-compare.py).
#
#   bench/carve.sh [BUILD_DIR]        (default: build)
#
# The volume (1 GiB, made once in $VINDARU_BENCH_DIR, default /tmp/vindaru-bench): pseudo-random
# bytes with about 200 JPEG, PNG and PDF files (JPEGs made by cjpeg from noise pictures) placed at
# sector boundaries; their positions, sizes and md5s are kept beside it in carve-1g.layout.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
cli="$build/vindaru-cli"
dir=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}
image="$dir/carve-1g.raw"
layout="$dir/carve-1g.layout"
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
for tool in photorec foremost cjpeg; do
    command -v "$tool" >/dev/null || { echo "$tool is needed (apt-get install testdisk foremost libjpeg-turbo-progs)" >&2; exit 1; }
done
mkdir -p "$dir"

make_volume() {
    local work
    work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    python3 - "$work" <<'PY'
import os, random, struct, sys, zlib
work = sys.argv[1]
rnd = random.Random(7)
def noise(w, h):
    return bytes(rnd.getrandbits(8) for _ in range(w * h * 3))
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
for k in range(8):
    w, h = 300 + 97 * k, 200 + 61 * k
    open(os.path.join(work, "p%d.ppm" % k), "wb").write(b"P6 %d %d 255\n" % (w, h) + noise(w, h))
    w, h = 120 + 41 * k, 90 + 37 * k
    rows = noise(w, h)
    raw = b"".join(b"\0" + rows[y * w * 3:(y + 1) * w * 3] for y in range(h))
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) +
           chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))
    open(os.path.join(work, "p%d.png" % k), "wb").write(png)
PY
    for k in $(seq 0 7); do
        cjpeg -quality 90 "$work/p$k.ppm" >"$work/p$k.jpg"
        rm "$work/p$k.ppm"
    done
    { openssl enc -aes-128-ctr -pass pass:carve -nosalt -pbkdf2 </dev/zero 2>/dev/null || true; } |
        head -c $((1 << 30)) >"$image.part"
    python3 - "$work" "$image.part" "$layout" <<'PY'
import hashlib, os, random, sys, zlib
work, image, layout = sys.argv[1:]
rnd = random.Random(1024)
samples = [(n.rsplit(".", 1)[1], open(os.path.join(work, n), "rb").read()) for n in sorted(os.listdir(work))]
def pdf(n):
    body = zlib.compress(bytes(rnd.getrandbits(8) for _ in range(n)))
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>",
            b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(body) + body + b"\nendstream"]
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for i, o in enumerate(objs, 1):
        offsets.append(len(out)); out += b"%d 0 obj\n" % i + o + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    for off in offsets: out += b"%010d 00000 n \n" % off
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
    return bytes(out)
pdfs = [("pdf", pdf(rnd.randrange(20000, 400000))) for _ in range(6)]
files = samples + pdfs
size = os.path.getsize(image)
slot = size // 200
with open(image, "r+b") as img, open(layout, "w") as out:
    for i in range(200):
        kind, data = files[i % len(files)]
        pos = (i * slot + rnd.randrange(0, slot - len(data) - 512)) // 512 * 512
        img.seek(pos); img.write(data)
        out.write("%d %d %s %s whole\n" % (pos, len(data), hashlib.md5(data).hexdigest(), kind))
PY
    mv "$image.part" "$image"
}
[ -f "$image" ] || make_volume

outroot=/dev/shm
[ "$(df --output=avail -k /dev/shm | tail -1)" -gt $((6 << 20)) ] || outroot="$dir"
work=$(mktemp -d "$outroot/vindaru-carve.XXXXXX")
trap 'rm -rf "$work"' EXIT
vol=(--start 0 --type RAW --extent FLAT)
cat "$image" >/dev/null # warm the page cache

rounds=${VINDARU_BENCH_ROUNDS:-3}
cat_t=() list_t=() save_t=() rec_t=() fore_t=() cat_cpu=() list_cpu=()
for r in $(seq "$rounds"); do
    rm -rf "$work"/*
    mkdir -p "$work/photorec"
    t0=$(now); cpu cat "$image" >/dev/null; t1=$(now); cat_cpu+=("$(cpu_of)")
    cpu "$cli" carve "$image" "${vol[@]}" >"$work/list.tsv" 2>/dev/null; t2=$(now); list_cpu+=("$(cpu_of)")
    "$cli" carve "$image" "${vol[@]}" --out "$work/vindaru" >/dev/null 2>&1; t3=$(now)
    # PhotoRec writes into "<d>.1" and its log into the current folder.
    (cd "$work/photorec" && photorec /log /d "$work/photorec/r" /cmd "$image" \
        partition_none,fileopt,everything,disable,jpg,enable,png,enable,pdf,enable,wholespace,search \
        >/dev/null 2>&1) || true
    t4=$(now)
    foremost -i "$image" -o "$work/foremost" >/dev/null 2>&1 || true; t5=$(now)
    cat_t+=("$(echo "$t1 - $t0" | bc)") list_t+=("$(echo "$t2 - $t1" | bc)")
    save_t+=("$(echo "$t3 - $t2" | bc)") rec_t+=("$(echo "$t4 - $t3" | bc)")
    fore_t+=("$(echo "$t5 - $t4" | bc)")
    [ "$r" = "$rounds" ] || rm -rf "$work/photorec" "$work/foremost" "$work/vindaru"
done

c=$(best "${cat_t[@]}") l=$(best "${list_t[@]}") s=$(best "${save_t[@]}")
p=$(best "${rec_t[@]}") f=$(best "${fore_t[@]}")
cc=$(best "${cat_cpu[@]}") lc=$(best "${list_cpu[@]}")
echo "volume: $(($(stat -c %s "$image") >> 20)) MiB, $(wc -l <"$layout") files placed; vindaru finds $(wc -l <"$work/list.tsv")"
python3 "$here/carve-compare.py" "$layout" vindaru="$work/vindaru" photorec="$work/photorec" foremost="$work/foremost"
printf 'cat %.3f s | vindaru list %.3f s, with save %.3f s | PhotoRec %.3f s | foremost %.3f s\n' "$c" "$l" "$s" "$p" "$f"
printf 'ratios: list/cat %.2f (goal <= 1.25); PhotoRec/vindaru %.2f, foremost/vindaru %.2f (saving; goals >= 1 and >= 2); PhotoRec/list %.2f, foremost/list %.2f\n' \
    "$(echo "$l / $c" | bc -l)" "$(echo "$p / $s" | bc -l)" "$(echo "$f / $s" | bc -l)" \
    "$(echo "$p / $l" | bc -l)" "$(echo "$f / $l" | bc -l)"
printf 'CPU (user + system): cat %.2f s, vindaru list %.2f s: list/cat %.2f\n' "$cc" "$lc" "$(echo "$lc / $cc" | bc -l)"
