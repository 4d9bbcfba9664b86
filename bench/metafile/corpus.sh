#!/bin/sh
# Draws a folder of real-world pictures with the metafile player of a source tree, holds each
# drawing against LibreOffice's and reports the differences; compares two such runs.
#
#   corpus.sh [options] draw TREE OUT     build bench_corpus from TREE (a copy of its files, so
#                                         TREE itself is not touched), draw every WMF/EMF into
#                                         OUT/png/, compare with LibreOffice: OUT/report.tsv,
#                                         OUT/summary.txt, OUT/sheets/worst-NN.png (ours | LO)
#   corpus.sh [options] compare OLD NEW [DIFF]
#                                         files whose drawing differs between two `draw` outputs:
#                                         DIFF/changed.tsv, DIFF/sheets/changed-NN.png
#                                         (old | new | LO); DIFF defaults to NEW/vs-<name of OLD>
#   corpus.sh [options] lo                only fill the LibreOffice cache
# Options:
#   --corpus DIR    the pictures (default $CORPUS_DIR, else /work/shared/corpus)
#   --cache DIR     LibreOffice drawings, bench builds (default $CORPUS_CACHE, else
#                   ~/.cache/rorumo-corpus); LibreOffice draws each file once, cached by SHA-1
#   --worst N       pictures on the worst-first sheets (default 60)
#   --runs N        drawings per file, of which the median time is kept (default 3)
#   --timeout S     a file still drawing after S seconds is stopped (default 60)
#   --rasters       also load the BMP/GIF/JPEG files through the program's picture loader;
#                   their reference is ImageMagick's reading (first frame, on white)
#
# LibreOffice puts a picture on an A4 page at 96 dpi, centred and shrunk to fit inside 1 cm
# margins; the frame it chose (read from the same file converted to .odg) cuts it out again. So a
# picture larger than about 718 x 1047 px is compared against an enlarged LibreOffice drawing.
# The error is the RMSE (0..1) of the two drawings at our size, both on white, slightly blurred.
set -eu
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
corpus=${CORPUS_DIR:-/work/shared/corpus}
cache=${CORPUS_CACHE:-$HOME/.cache/rorumo-corpus}
worst=60
runs=3
timeout_s=60
rasters=""
while [ $# -gt 0 ]; do
    case "$1" in
    --corpus) corpus=$2; shift 2 ;;
    --cache) cache=$2; shift 2 ;;
    --worst) worst=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --timeout) timeout_s=$2; shift 2 ;;
    --rasters) rasters=--rasters; shift ;;
    -h | --help) sed -n '2,/^set -eu/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) break ;;
    esac
done
[ $# -ge 1 ] || { echo "usage: $0 [options] draw TREE OUT | compare OLD NEW [DIFF] | lo" >&2; exit 2; }
[ "$1" = compare ] || sh "$here/../../scripts/packages.sh" corpus
corpus=$(cd "$corpus" && pwd)
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
lo=$cache/lo

# The metafiles of the corpus, as paths relative to it.
metafiles() { (cd "$corpus" && find . -type f \( -iname '*.wmf' -o -iname '*.emf' \) | sed 's|^\./||' | sort); }

# Fills $lo/<sha1>.png (LibreOffice's drawing, cut to its frame, on white) and <sha1>.size
# ("W H" of that frame in pixels), or <sha1>.fail, for every metafile not yet there.
fill_lo_cache() {
    mkdir -p "$lo"
    exec 9>"$lo/.lock"
    flock 9
    work=$(mktemp -d)
    metafiles | while read -r f; do
        sum=$(sha1sum "$corpus/$f" | cut -c1-40)
        [ -e "$lo/$sum.png" ] || [ -e "$lo/$sum.fail" ] && continue
        ext=$(echo "${f##*.}" | tr '[:upper:]' '[:lower:]')
        ln -sf "$corpus/$f" "$work/$sum.$ext"
    done
    todo=$(find "$work" -maxdepth 1 -type l | wc -l)
    [ "$todo" -eq 0 ] && { rm -rf "$work"; exec 9>&-; return 0; }
    echo "LibreOffice draws $todo files (about 1 s each) into $lo"
    profile="-env:UserInstallation=file://$cache/lo-profile"
    # Batches keep soffice's start-up cost low; a batch that hangs is stopped and its files are
    # tried again one by one.
    # shellcheck disable=SC2016 # the inner shell expands them
    find "$work" -maxdepth 1 -type l | sort | xargs -n 20 sh -c '
        w=$0; p=$1; shift 1
        for t in png odg; do
            timeout -k 10 600 nice soffice "$p" --headless --convert-to $t --outdir "$w/$t" "$@" \
                >/dev/null 2>&1 || true
        done' "$work" "$profile"
    for link in "$work"/*.*; do
        [ -L "$link" ] || continue
        name=$(basename "$link"); sum=${name%.*}
        for t in png odg; do
            [ -s "$work/$t/$sum.$t" ] || timeout -k 10 120 nice soffice "$profile" --headless \
                --convert-to $t --outdir "$work/$t" "$link" >/dev/null 2>&1 || true
        done
        # The frame on the page, in cm, from the .odg; the page is 21 cm wide at 96 dpi.
        frame=$(unzip -p "$work/odg/$sum.odg" content.xml 2>/dev/null |
            grep -o '<draw:frame [^>]*>' | head -1 |
            sed -n 's/.*svg:width="\([0-9.]*\)cm".*svg:height="\([0-9.]*\)cm".*svg:x="\([-0-9.]*\)cm".*svg:y="\([-0-9.]*\)cm".*/\1 \2 \3 \4/p')
        if [ -z "$frame" ] || [ ! -s "$work/png/$sum.png" ]; then
            : >"$lo/$sum.fail"
            continue
        fi
        geometry=$(echo "$frame" | awk '{ k = 96 / 2.54; w = int($1 * k + 0.5); h = int($2 * k + 0.5);
            if (w < 1) w = 1; if (h < 1) h = 1;
            printf "%dx%d+%d+%d %d %d", w, h, int($3 * k + 0.5), int($4 * k + 0.5), w, h }')
        convert "$work/png/$sum.png" -background white -flatten -crop "${geometry%% *}" +repage \
            "$lo/$sum.png"
        echo "${geometry#* }" >"$lo/$sum.size"
    done
    rm -rf "$work"
    exec 9>&- # other runs may read the cache now
    echo "LibreOffice cache: $(find "$lo" -name '*.png' | wc -l) drawn," \
        "$(find "$lo" -name '*.fail' | wc -l) failed"
}

# Builds bench_corpus from a copy of TREE's files (tracked and new, as they are now) in the cache,
# adding it where TREE does not have it yet; sets $bench.
build_bench() {
    tree=$(cd "$1" && pwd)
    name=$(basename "$tree")
    src=$cache/src/$name
    build=$cache/build/$name
    rm -rf "$src"
    mkdir -p "$src" "$build"
    # tar keeps the files' times, so an unchanged file is not compiled again.
    (cd "$tree" && git ls-files -co --exclude-standard | tar -cf - --no-recursion \
        --ignore-failed-read -T - 2>/dev/null) | tar -xf - -C "$src"
    if [ ! -f "$src/bench/metafile/bench_corpus.cpp" ]; then
        cp "$here/bench_corpus.cpp" "$src/bench/metafile/"
        sed -n '/^# Real-world pictures drawn one by one/,$p' "$here/CMakeLists.txt" \
            >>"$src/bench/metafile/CMakeLists.txt"
    fi
    launcher=""
    command -v ccache >/dev/null &&
        launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
    # shellcheck disable=SC2086
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRORUMO_BUILD_TESTS=OFF \
        -DRORUMO_BUILD_BENCH=ON $launcher >"$build/configure.log" 2>&1 ||
        { cat "$build/configure.log" >&2; exit 1; }
    nice cmake --build "$build" -j2 --target bench_corpus >"$build/build.log" 2>&1 ||
        { tail -40 "$build/build.log" >&2; exit 1; }
    bench=$build/bench/metafile/bench_corpus
}

# The share of pixels that are not white (2 % fuzz): 0 is a blank drawing.
ink() {
    convert "$1" -alpha off -fuzz 2% -fill black +opaque white -format '%[fx:1-mean]' info: 2>/dev/null
}

# RMSE (0..1) of two drawings, the second resized to the first's size; both are blurred a little
# (sigma 2 px) so that anti-aliasing and a pixel of shift do not count as much as a wrong shape.
rmse() {
    t=$(mktemp -d)
    convert "$1" -alpha off -blur 0x2 "$t/a.miff" 2>/dev/null
    convert "$2" -alpha off -resize "$(identify -format '%wx%h' "$1")!" -blur 0x2 "$t/b.miff" 2>/dev/null
    compare -metric RMSE "$t/a.miff" "$t/b.miff" null: 2>&1 | sed -n 's/.*(\([0-9.e-]*\)).*/\1/p'
    rm -rf "$t"
}

tile_font=DejaVu-Sans
# A picture for a sheet: the drawing, or a grey box that says why there is none.
tile() { # FILE-OR-EMPTY LABEL OUT
    if [ -s "$1" ]; then
        convert "$1" -alpha off -resize 300x300 -bordercolor '#888' -border 1 "$3" 2>/dev/null
    else
        convert -size 302x302 xc:'#eee' -font $tile_font -pointsize 16 -gravity center \
            -annotate 0 "$2" "$3"
    fi
}

# Sheets of pictures side by side: reads lines "TITLE<TAB>FILE<TAB>LABEL<TAB>FILE<TAB>LABEL..."
# and writes PREFIX-01.png... with PER lines a page in COLUMNS columns.
sheets() { # PREFIX PER COLUMNS
    prefix=$1; per=$2; columns=$3
    mkdir -p "$(dirname "$prefix")"
    t=$(mktemp -d); n=0
    while IFS='	' read -r title rest; do
        n=$((n + 1)); set --; i=0
        while [ -n "$rest" ]; do
            f=${rest%%	*}; rest=${rest#"$f"}; rest=${rest#	}
            l=${rest%%	*}; rest=${rest#"$l"}; rest=${rest#	}
            i=$((i + 1)); tile "$f" "$l" "$t/tile$i.png"
            set -- "$@" -label "$l" "$t/tile$i.png"
        done
        row=$t/row$(printf %04d $n).png
        montage "$@" -font $tile_font -pointsize 12 -tile "${i}x1" -geometry '+6+4' \
            -background '#c8c8c8' "$row"
        convert "$row" -background '#c8c8c8' -gravity north -splice 0x20 -font $tile_font \
            -pointsize 13 -annotate +0+3 "$title" "$row"
    done
    rm -f "$prefix"-*.png
    page=0
    ls "$t"/row*.png 2>/dev/null | split -l "$per" - "$t/list."
    for list in "$t"/list.*; do
        [ -e "$list" ] || continue
        page=$((page + 1))
        # shellcheck disable=SC2046 # the list holds file names without spaces
        montage $(cat "$list") -tile "${columns}x" -geometry +3+3 -background white \
            "$prefix-$(printf %02d $page).png"
    done
    rm -rf "$t"
}

# The reference drawing of corpus file $1: LibreOffice's for a metafile, ImageMagick's (first
# frame, on white) for a BMP/GIF/JPEG, made on first use. Sets $ref, $ref_size ("-" when none)
# and $ref_name.
reference() {
    sum=$(sha1sum "$corpus/$1" | cut -c1-40)
    case "$1" in
    *.[wWeE][mM][fF])
        ref=$lo/$sum.png; ref_name=LibreOffice
        ref_size=-
        [ -s "$lo/$sum.size" ] && ref_size=$(tr ' ' x <"$lo/$sum.size") ;;
    *)
        ref=$cache/im/$sum.png; ref_name=ImageMagick
        mkdir -p "$cache/im"
        [ -e "$ref" ] || convert "$corpus/$1[0]" -background white -flatten "$ref" 2>/dev/null ||
            : >"$ref"
        ref_size=$(identify -format '%wx%h' "$ref" 2>/dev/null) || ref_size=- ;;
    esac
    [ -s "$ref" ] || ref_size=-
}

draw() { # TREE OUT
    started=$(date +%s)
    build_bench "$1"
    out=$(mkdir -p "$2" && cd "$2" && pwd)
    fill_lo_cache
    rm -rf "$out/png"
    dirs=$(cd "$corpus" && find . -mindepth 1 -maxdepth 1 -type d | sed 's|^\./||' | sort)
    echo "Drawing the corpus with $bench"
    # shellcheck disable=SC2086
    (cd "$corpus" && nice "$bench" --png "$out/png" --runs "$runs" --timeout "$timeout_s" \
        $rasters $dirs 2>/dev/null) >"$out/bench.tsv"
    echo "Comparing with LibreOffice"
    printf 'file\tresult\tsize\tsize_ref\terror\tink\tink_ref\tms\tKiB\n' >"$out/report.tsv"
    grep -v '^#' "$out/bench.tsv" | tail -n +2 | while IFS='	' read -r f result size ms kib; do
        reference "$f"
        ours=$out/png/$f.png
        ink_ref=-; ink_ours=-; error=-
        [ "$ref_size" = - ] || ink_ref=$(ink "$ref")
        [ -s "$ours" ] && ink_ours=$(ink "$ours")
        # A drawing the reference did not make (or made 1 or 2 px wide) has no error.
        case "$ref_size" in -|[12]x*|*x[12]) ;;
        *) if [ "$result" = drawn ] && [ -s "$ours" ]; then error=$(rmse "$ours" "$ref")
           elif [ "$result" != drawn ]; then error=1; fi ;;
        esac
        printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$f" "$result" "$size" "$ref_size" "$error" \
            "$ink_ours" "$ink_ref" "$ms" "$kib"
    done | sort -t '	' -k5,5gr >>"$out/report.tsv"
    awk -F '\t' 'NR > 1 && $5 != "-"' "$out/report.tsv" | head -n "$worst" |
        while IFS='	' read -r f result size size_ref error _ _ _ _; do
            reference "$f"
            printf '%s   error %.3f\t%s\tours %s %s\t%s\t%s %s\n' "$f" "$error" \
                "$out/png/$f.png" "$result" "$size" "$ref" "$ref_name" "$size_ref"
        done | sheets "$out/sheets/worst" 6 2
    summary "$out" "$(( $(date +%s) - started ))" | tee "$out/summary.txt"
}

summary() { # OUT SECONDS
    grep '^#' "$1/bench.tsv" | sed 's/^# //'
    awk -F '\t' 'NR > 1 {
            k = $1 ~ /\.[wWeE][mM][fF]$/ ? "metafiles" : "rasters"; n[k]++
            if ($5 == "-") b[k, 0]++; else if ($5 >= 0.2) b[k, 4]++; else if ($5 >= 0.1) b[k, 3]++
            else if ($5 >= 0.05) b[k, 2]++; else b[k, 1]++ }
        END { for (k in n) printf "%s: %d; error < 0.05: %d, 0.05-0.1: %d, 0.1-0.2: %d, " \
            ">= 0.2 or refused: %d, no reference drawing: %d\n",
            k, n[k], b[k, 1], b[k, 2], b[k, 3], b[k, 4], b[k, 0] }' "$1/report.tsv"
    echo "report: $1/report.tsv; sheets: $1/sheets/ ($2 s)"
}

compare_runs() { # OLD NEW DIFF
    old=$(cd "$1" && pwd); new=$(cd "$2" && pwd)
    diff=${3:-$new/vs-$(basename "$old")}
    mkdir -p "$diff"
    printf 'file\tbefore\tafter\tchanged_pixels\terror_before\terror_after\n' >"$diff/changed.tsv"
    tail -n +2 "$new/report.tsv" | sort -t '	' -k1,1 >"$diff/.new"
    # Only files in both runs are compared (a run without --rasters has no BMP/GIF/JPEG).
    tail -n +2 "$old/report.tsv" | sort -t '	' -k1,1 | join -t '	' -o '1.1,1.2,1.3,1.5,2.1,2.2,2.3,2.5' \
        - "$diff/.new" | while IFS='	' read -r _ ro so eo f rn sn en; do
        a=$old/png/$f.png; b=$new/png/$f.png
        if [ "$ro $so" != "$rn $sn" ]; then share=1
        elif [ -s "$a" ] && [ -s "$b" ]; then
            share=$(compare -metric AE -fuzz 3% "$a" "$b" null: 2>&1 | awk -v s="$sn" '{
                split(s, d, "x"); printf "%.4f", $1 / (d[1] * d[2]) }')
        else share=0; fi
        [ "$share" = 0.0000 ] || [ "$share" = 0 ] ||
            printf '%s\t%s %s\t%s %s\t%s\t%s\t%s\n' "$f" "$ro" "$so" "$rn" "$sn" "$share" "$eo" "$en"
    done | sort -t '	' -k4,4gr >>"$diff/changed.tsv"
    rm -f "$diff/.new"
    tail -n +2 "$diff/changed.tsv" | while IFS='	' read -r f before after share eo en; do
        reference "$f"
        printf '%s   changed %s, error %s -> %s\t%s\tbefore %s\t%s\tafter %s\t%s\t%s\n' "$f" \
            "$share" "$eo" "$en" "$old/png/$f.png" "$before" "$new/png/$f.png" "$after" "$ref" "$ref_name"
    done | sheets "$diff/sheets/changed" 4 1
    awk -F '\t' 'NR > 1 { n++; if ($5 != "-" && $6 != "-") { if ($6 < $5 - 0.005) better++;
            else if ($6 > $5 + 0.005) worse++; else same++ } }
        END { printf "%d files changed: closer to LibreOffice %d, further %d, about the same %d\n",
            n, better, worse, same }' "$diff/changed.tsv" | tee "$diff/summary.txt"
    echo "list: $diff/changed.tsv; sheets: $diff/sheets/"
}

case "$1" in
lo) fill_lo_cache ;;
draw) [ $# -eq 3 ] || { echo "usage: $0 draw TREE OUT" >&2; exit 2; }; draw "$2" "$3" ;;
compare) [ $# -ge 3 ] || { echo "usage: $0 compare OLD NEW [DIFF]" >&2; exit 2; }
    compare_runs "$2" "$3" "${4:-}" ;;
*) echo "unknown command $1" >&2; exit 2 ;;
esac
