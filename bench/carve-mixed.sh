#!/usr/bin/env bash
# Carving 1,000 mixed files against PhotoRec and foremost, in one run, on a volume of 640 MiB:
# random bytes and stretches of zeros with JPEG, PNG, GIF, BMP, PDF, ZIP, DOCX, 7z, DOC, MP3,
# WAV, AVI and MP4 files made by Debian tools placed at random sectors; 5 % of them in two
# fragments, 5 % cut short. Reported: `cat` of the volume, the vindaru listing, vindaru with
# every find saved, PhotoRec and foremost (both save), and for each carver how many placed whole
# files it wrote byte for byte (md5) and how many bytes it wrote (bench/carve-compare.py).
# Goals: listing <= 1.25x cat, saving no slower than PhotoRec, at least as many byte-exact files
# as PhotoRec, bytes written within 1 % of the whole files' bytes.
#
#   bench/carve-mixed.sh [BUILD_DIR]      (default: build)
#
# Needs: apt-get install testdisk foremost libjpeg-turbo-progs imagemagick ghostscript qpdf zip
#        p7zip-full sox lame ffmpeg libgsf-bin
# The volume is made once in $VINDARU_BENCH_DIR (default /tmp/vindaru-bench), with its layout
# (offset size md5 kind state per file) beside it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench-common.sh"

build=${1:-build}
cli="$build/vindaru-cli"
here=$(cd "$(dirname "$0")" && pwd)
dir=${VINDARU_BENCH_DIR:-/tmp/vindaru-bench}
image="$dir/carve-mixed.raw"
layout="$dir/carve-mixed.layout"
[ -x "$cli" ] || { echo "build vindaru-cli first ($cli)" >&2; exit 1; }
for tool in photorec foremost cjpeg convert gs qpdf zip 7z sox lame ffmpeg gsf; do
    command -v "$tool" >/dev/null || { echo "$tool is needed (see the head of $0)" >&2; exit 1; }
done
mkdir -p "$dir"

make_samples() {
    local s=$1 k w h
    mkdir -p "$s"
    for k in $(seq 0 11); do
        w=$((160 + 61 * k)) h=$((120 + 41 * k))
        convert -size ${w}x${h} -seed $k plasma:fractal -depth 8 "$s/p$k.ppm" 2>/dev/null
        cjpeg -quality $((60 + 3 * k)) $([ $((k % 3)) = 0 ] && echo -progressive) "$s/p$k.ppm" >"$s/jpg$k.jpg"
        [ $((k % 2)) = 0 ] && convert "$s/p$k.ppm" "png:$s/png$k.png"
        [ $((k % 3)) = 1 ] && convert "$s/p$k.ppm" -resize 50% -colors 64 "$s/gif$k.gif"
        [ $((k % 4)) = 2 ] && convert "$s/p$k.ppm" -resize 40% "bmp3:$s/bmp$k.bmp"
    done
    for k in $(seq 0 5); do
        {
            echo '%!PS'
            echo '/Helvetica findfont 10 scalefont setfont'
            for p in $(seq 0 $((k * 3))); do
                for l in $(seq 0 40); do echo "20 $((780 - l * 18)) moveto (page $p line $l of sample $k) show"; done
                echo showpage
            done
        } >"$s/t$k.ps"
        gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile="$s/pdf$k.pdf" "$s/t$k.ps"
        [ $k = 1 ] && qpdf --linearize "$s/pdf$k.pdf" "$s/pdf${k}l.pdf"
        [ $k = 2 ] && qpdf --object-streams=generate "$s/pdf$k.pdf" "$s/pdf${k}x.pdf"
        rm "$s/t$k.ps"
    done
    mkdir -p "$s/tx"
    for k in $(seq 0 3); do
        seq $((k * 1000)) $((k * 7000 + 3000)) >"$s/tx/a.txt"
        head -c $((20000 * (k + 1))) "$s/p$k.ppm" >"$s/tx/b.bin"
        (cd "$s/tx" && zip -q -X "../zip$k.zip" a.txt b.bin && 7z a -bd -bso0 "../sz$k.7z" a.txt b.bin)
        gsf createole "$s/ole$k.doc" "$s/tx/a.txt" "$s/tx/b.bin"
        mkdir -p "$s/ox$k/word" "$s/ox$k/_rels"
        printf '<?xml version="1.0"?><Types/>' >"$s/ox$k/[Content_Types].xml"
        cp "$s/tx/a.txt" "$s/ox$k/word/document.xml"
        printf '<Relationships/>' >"$s/ox$k/_rels/.rels"
        (cd "$s/ox$k" && zip -q -X -r "../docx$k.docx" '[Content_Types].xml' _rels word)
        rm -rf "$s/ox$k"
    done
    for k in $(seq 0 3); do
        sox -n -r 22050 -c 1 "$s/wav$k.wav" synth $((k + 1)).5 sine $((300 + 100 * k))
        lame --quiet -b $((32 + 32 * k)) --tt "tone $k" --add-id3v2 "$s/wav$k.wav" "$s/mp3$k.mp3"
        ffmpeg -loglevel error -f lavfi -i testsrc=size=160x120:rate=10 -t $((k + 1)) -c:v mpeg4 "$s/mp4$k.mp4"
        [ $k -lt 2 ] && ffmpeg -loglevel error -f lavfi -i testsrc=size=96x64:rate=5 -t 1 -c:v mjpeg "$s/avi$k.avi"
    done
    rm -rf "$s/tx" "$s"/*.ppm
}

make_volume() {
    local work
    work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    make_samples "$work"
    { openssl enc -aes-128-ctr -pass pass:mixed -nosalt -pbkdf2 </dev/zero 2>/dev/null || true; } |
        head -c $((640 << 20)) >"$image.part"
    python3 - "$work" "$image.part" "$layout" <<'PY'
import hashlib, os, random, sys
work, image, layout = sys.argv[1:]
rnd = random.Random(2029)
samples = [(n.rsplit(".", 1)[1], open(os.path.join(work, n), "rb").read()) for n in sorted(os.listdir(work))]
size = os.path.getsize(image)
count = 1000
slot = size // count // 512 * 512
plan = []
for i in range(count):
    kind, data = samples[i % len(samples)]
    r = rnd.random()
    state = "fragmented" if r < 0.05 else "truncated" if r < 0.10 else "whole"
    plan.append((i, kind, data, state))
with open(image, "r+b") as img, open(layout, "w") as out:
    for i, kind, data, state in plan:
        base = i * slot
        room = slot - 1024
        if len(data) > room:
            data = data[:room] if state != "whole" else data
        if state == "truncated":
            data = data[:max(1024, int(len(data) * rnd.uniform(0.4, 0.9)))]
        n = min(len(data), room)
        pos = base + rnd.randrange(0, max(1, (room - n) // 512)) * 512
        if rnd.random() < 0.3:  # zeros before and after instead of random bytes
            img.seek(base); img.write(bytes(slot))
        if state == "fragmented" and n > 8192:
            # The second half two slots on, where that slot's own file will not reach.
            cut = n // 2 // 512 * 512
            img.seek(pos); img.write(data[:cut])
            later = ((i + 2) % count) * slot + slot - (n - cut) - 512
            later -= later % 512
            img.seek(later); img.write(data[cut:n])
        else:
            if state == "fragmented":
                state = "whole"
            img.seek(pos); img.write(data[:n])
        if n < len(data) and state == "whole":
            state = "truncated"
        full = data if state == "whole" else data[:n]
        out.write("%d %d %s %s %s\n" % (pos, len(full), hashlib.md5(full).hexdigest(), kind, state))
PY
    mv "$image.part" "$image"
}
[ -f "$image" ] || make_volume

outroot=/dev/shm
[ "$(df --output=avail -k /dev/shm | tail -1)" -gt $((4 << 20)) ] || outroot="$dir"
work=$(mktemp -d "$outroot/vindaru-mixed.XXXXXX")
trap 'rm -rf "$work"' EXIT
vol=(--start 0 --type RAW --extent FLAT)
types=jpg,enable,png,enable,gif,enable,bmp,enable,pdf,enable,zip,enable,7z,enable,doc,enable,mp3,enable,riff,enable,mov,enable
cat "$image" >/dev/null

rounds=${VINDARU_BENCH_ROUNDS:-3}
cat_t=() list_t=() save_t=() rec_t=() fore_t=() cat_cpu=() list_cpu=()
for r in $(seq "$rounds"); do
    rm -rf "${work:?}"/*
    mkdir -p "$work/photorec"
    t0=$(now); cpu cat "$image" >/dev/null; t1=$(now); cat_cpu+=("$(cpu_of)")
    cpu "$cli" carve "$image" "${vol[@]}" >"$work/list.tsv" 2>/dev/null; t2=$(now); list_cpu+=("$(cpu_of)")
    "$cli" carve "$image" "${vol[@]}" --out "$work/vindaru" >/dev/null 2>"$work/vindaru.err"; t3=$(now)
    (cd "$work/photorec" && photorec /log /d "$work/photorec/r" /cmd "$image" \
        partition_none,fileopt,everything,disable,$types,wholespace,search >/dev/null 2>&1) || true
    t4=$(now)
    foremost -i "$image" -o "$work/foremost" >/dev/null 2>&1 || true; t5=$(now)
    cat_t+=("$(echo "$t1 - $t0" | bc)") list_t+=("$(echo "$t2 - $t1" | bc)")
    save_t+=("$(echo "$t3 - $t2" | bc)") rec_t+=("$(echo "$t4 - $t3" | bc)")
    fore_t+=("$(echo "$t5 - $t4" | bc)")
done

c=$(best "${cat_t[@]}") l=$(best "${list_t[@]}") s=$(best "${save_t[@]}")
p=$(best "${rec_t[@]}") f=$(best "${fore_t[@]}")
cc=$(best "${cat_cpu[@]}") lc=$(best "${list_cpu[@]}")
echo "volume: $(($(stat -c %s "$image") >> 20)) MiB; vindaru: $(head -1 "$work/vindaru.err")"
python3 "$here/carve-compare.py" "$layout" vindaru="$work/vindaru" photorec="$work/photorec" foremost="$work/foremost"
printf 'cat %.3f s | vindaru list %.3f s, with save %.3f s | PhotoRec %.3f s | foremost %.3f s\n' "$c" "$l" "$s" "$p" "$f"
printf 'ratios: list/cat %.2f (goal <= 1.25); vindaru/PhotoRec saving %.2f (goal <= 1.0); vindaru/foremost %.2f\n' \
    "$(echo "$l / $c" | bc -l)" "$(echo "$s / $p" | bc -l)" "$(echo "$s / $f" | bc -l)"
printf 'CPU (user + system): cat %.2f s, vindaru list %.2f s: list/cat %.2f\n' "$cc" "$lc" "$(echo "$lc / $cc" | bc -l)"
