#!/bin/sh
# Draws a folder of real-world pictures with the metafile player of a source tree, holds each
# drawing against two witnesses, LibreOffice and GDI itself (through Wine), and reports the
# differences; compares two such runs.
#
#   corpus.sh [options] draw TREE OUT     build bench_corpus from TREE (a copy of its files, so
#                                         TREE itself is not touched), draw every WMF/EMF into
#                                         OUT/png/, compare with LibreOffice and GDI:
#                                         OUT/report.tsv, OUT/summary.txt,
#                                         OUT/sheets/worst-NN.png (ours | LO | GDI, worst
#                                         against LibreOffice first), OUT/sheets/gdi-NN.png
#                                         (the same, worst against GDI first)
#   corpus.sh [options] compare OLD NEW [DIFF]
#                                         files whose drawing differs between two `draw` outputs:
#                                         DIFF/changed.tsv, DIFF/sheets/changed-NN.png
#                                         (old | new | LO | GDI); DIFF defaults to
#                                         NEW/vs-<name of OLD>
#   corpus.sh [options] lo                only fill the LibreOffice cache
#   corpus.sh [options] report OUT        the comparison of a `draw` output again (after the
#                                         verdicts changed), without drawing ours again
# Options:
#   --corpus DIR    the pictures (default $CORPUS_DIR, else /work/shared/corpus)
#   --cache DIR     LibreOffice's and GDI's drawings, bench builds (default $CORPUS_CACHE, else
#                   ~/.cache/rorumo-corpus); LibreOffice draws each file once, cached by SHA-1
#   --worst N       pictures on the worst-first sheets (default 60)
#   --runs N        drawings per file, of which the median time is kept (default 3)
#   --timeout S     a file still drawing after S seconds is stopped (default 60)
#   --rasters       also load the BMP/GIF/JPEG files through the program's picture loader;
#                   their reference is ImageMagick's reading (first frame, on white)
#   --sanitize      build bench_corpus with AddressSanitizer and UndefinedBehaviorSanitizer;
#                   a file that trips them shows as crashed
#
# GDI draws each metafile through ../shared/tools/gdiref under Wine (prefix $GDIREF_PREFIX, else
# /tmp/wineprefix-corpus) at the size our player chose, or at its own natural size where ours
# refused; its drawings are cached by SHA-1 and size. Wine has faults of its own (gdiref's
# README); gdi-verdicts.tsv beside this script keeps, per file that differs from GDI, whose
# drawing was judged wrong from the records: ours, wine, both (both right within what GDI leaves
# free, or each playing the records it plays by design) or open. A drawing agrees with another
# when their error is below 0.05.
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
sanitize=""
gdiref=${GDIREF_DIR:-$here/../../../shared/tools/gdiref}
[ -d "$gdiref" ] || gdiref=/work/shared/tools/gdiref
export WINEPREFIX="${GDIREF_PREFIX:-/tmp/wineprefix-corpus}" WINEDEBUG=-all
while [ $# -gt 0 ]; do
    case "$1" in
    --corpus) corpus=$2; shift 2 ;;
    --cache) cache=$2; shift 2 ;;
    --worst) worst=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --timeout) timeout_s=$2; shift 2 ;;
    --rasters) rasters=--rasters; shift ;;
    --sanitize) sanitize=-DRORUMO_SANITIZE=ON; shift ;;
    -h | --help) sed -n '2,/^set -eu/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) break ;;
    esac
done
[ $# -ge 1 ] || { echo "usage: $0 [options] draw TREE OUT | compare OLD NEW [DIFF] | lo" >&2; exit 2; }
agree=0.05
[ "$1" = compare ] || sh "$here/../../scripts/packages.sh" corpus
corpus=$(cd "$corpus" && pwd)
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
lo=$cache/lo
gdi=$cache/gdi

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

# The kind of metafile $1 is, from its first bytes: emf, placeable (WMF), wmf (plain) or other.
kind() {
    magic=$(od -An -tx1 -N4 "$1" | tr -d ' ')
    sig=$(od -An -tx1 -j40 -N4 "$1" | tr -d ' ')
    case "$magic" in
    d7cdc69a) echo placeable ;;
    01000000) if [ "$sig" = 20454d46 ]; then echo emf; else echo other; fi ;;
    01000900 | 02000900) echo wmf ;;
    *) echo other ;;
    esac
}

# GDI's drawing of corpus file $1 at our size $2 ("WxH", or "-" for its natural size): sets $gref
# to $gdi/<sha1>-<size>.png; <same>.fail says why there is none (gdiref's status, or crashed or
# stopped).
gdi_ref() {
    gref=$gdi/$(sha1sum "$corpus/$1" | cut -c1-40)-$(echo "$2" | sed 's/^-$/natural/').png
}

# Fills the GDI cache for the files of bench output $1 at the sizes our player chose. One Wine
# process draws the whole list; when one file crashes Wine's player or draws for longer than
# the timeout, it is noted and the process starts again after it.
fill_gdi_cache() { # BENCH_TSV
    mkdir -p "$gdi"
    work=$(mktemp -d)
    grep -v '^#' "$1" | tail -n +2 | while IFS='	' read -r f _ size _; do
        case "$f" in *.[wWeE][mM][fF]) ;; *) continue ;; esac
        gdi_ref "$f" "$size"
        [ -e "$gref" ] || [ -e "${gref%.png}.fail" ] && continue
        wh=""
        [ "$size" = - ] || wh=$(echo "$size" | sed 's/x/	/; s/^/	/')
        printf 'Z:%s	Z:%s%s
' "$corpus/$f" "$work/$(basename "${gref%.png}").ppm" "$wh" |
            sed 's|/|\\|g'
    done >"$work/list"
    todo=$(wc -l <"$work/list")
    [ "$todo" -eq 0 ] && { rm -rf "$work"; return 0; }
    echo "GDI (gdiref under Wine) draws $todo files into $gdi"
    exe=$("$gdiref/setup.sh")
    while [ -s "$work/list" ]; do
        : >"$work/done"
        nice wine "$exe" -list "Z:$(echo "$work/list" | sed 's|/|\\|g')" >"$work/done" 2>/dev/null &
        pid=$!
        lines=0; quiet=0
        while kill -0 "$pid" 2>/dev/null; do
            sleep 1
            now=$(wc -l <"$work/done")
            if [ "$now" -ne "$lines" ]; then lines=$now; quiet=0; else quiet=$((quiet + 1)); fi
            if [ "$quiet" -ge "$timeout_s" ]; then
                kill -KILL "$pid" 2>/dev/null || true
                echo stopped >"$work/why"
            fi
        done
        wait "$pid" 2>/dev/null || true
        # Only gdiref's own answers count; Wine writes its crash reports to the same output.
        tr -d '\r' <"$work/done" | grep -a '\.ppm	[0-9]*$' >"$work/answers" || true
        tr -d '\r' <"$work/answers" | while IFS='	' read -r ppm status; do
            key=$(printf "%s\n" "$ppm" | sed 's|.*\\||; s|\.ppm$||')
            if [ "$status" = 0 ] && convert "$work/$key.ppm" "$gdi/$key.png" 2>/dev/null; then :
            else echo "$status" >"$gdi/$key.fail"; fi
            rm -f "$work/$key.ppm"
        done
        done_n=$(wc -l <"$work/answers")
        # The line after the last answered one is the file that ended or stalled the process.
        next=$(sed -n "$((done_n + 1))p" "$work/list")
        if [ -n "$next" ]; then
            key=$(printf "%s\n" "$next" | cut -f2 | sed 's|.*\\||; s|\.ppm$||')
            if [ -e "$work/why" ]; then mv "$work/why" "$gdi/$key.fail"; else echo crashed >"$gdi/$key.fail"; fi
        fi
        tail -n +"$((done_n + 2))" "$work/list" >"$work/rest"
        mv "$work/rest" "$work/list"
    done
    rm -rf "$work"
    echo "GDI cache: $(find "$gdi" -name '*.png' | wc -l) drawn, $(find "$gdi" -name '*.fail' | wc -l) not"
}

# Builds bench_corpus from a copy of TREE's files (tracked and new, as they are now) in the cache,
# adding it where TREE does not have it yet; sets $bench.
build_bench() {
    tree=$(cd "$1" && pwd)
    name=$(basename "$tree")${sanitize:+-sanitize}
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
        -DRORUMO_BUILD_BENCH=ON $sanitize $launcher >"$build/configure.log" 2>&1 ||
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
    (cd "$corpus" && ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 nice "$bench" --png "$out/png" \
        --runs "$runs" --timeout "$timeout_s" $rasters $dirs 2>/dev/null) >"$out/bench.tsv"
    report "$out" "$started"
}

# Holds the drawings of a `draw` output OUT against LibreOffice's and GDI's: the report, sheets
# and summary.
report() { # OUT STARTED
    out=$1
    fill_gdi_cache "$out/bench.tsv"
    echo "Comparing with LibreOffice and GDI"
    printf 'file\tresult\tsize\tsize_ref\terror\tink\tink_ref\tms\tKiB\tkind\tgdi\terror_gdi\terror_lo_gdi\tverdict\n' \
        >"$out/report.tsv"
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
        kind=-; gdi_status=-; error_gdi=-; error_lo_gdi=-; verdict=-
        case "$f" in *.[wWeE][mM][fF])
            kind=$(kind "$corpus/$f")
            gdi_ref "$f" "$size"
            if [ -s "$gref" ]; then
                gdi_status=drawn
                if [ "$result" = drawn ] && [ -s "$ours" ]; then error_gdi=$(rmse "$ours" "$gref")
                elif [ "$result" != drawn ]; then error_gdi=1; fi
                case "$ref_size" in -|[12]x*|*x[12]) ;; *) error_lo_gdi=$(rmse "$gref" "$ref") ;; esac
            else
                gdi_status=$(cat "${gref%.png}.fail" 2>/dev/null || echo none)
            fi
            verdict=$(awk -F '\t' -v f="$f" '$1 == f { print $2; exit }' "$here/gdi-verdicts.tsv")
            [ -n "$verdict" ] || verdict=- ;;
        esac
        printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$f" "$result" "$size" \
            "$ref_size" "$error" "$ink_ours" "$ink_ref" "$ms" "$kib" "$kind" "$gdi_status" "$error_gdi" \
            "$error_lo_gdi" "$verdict"
    done | sort -t '	' -k5,5gr >>"$out/report.tsv"
    # Worst first by the error in column $1 (5: against LibreOffice, 12: against GDI).
    worst_rows() {
        awk -F '\t' -v c="$1" 'NR > 1 && $c != "-"' "$out/report.tsv" | sort -t '	' -k"$1,$1"gr |
            head -n "$worst" | while IFS='	' read -r f result size size_ref error _ _ _ _ _ gs eg elg v; do
                reference "$f"
                gdi_ref "$f" "$size"
                printf '%s   ours-LO %s, ours-GDI %s, LO-GDI %s, verdict %s\t%s\tours %s %s\t%s\t%s %s\t%s\tGDI %s\n' \
                    "$f" "$error" "$eg" "$elg" "$v" "$out/png/$f.png" "$result" "$size" "$ref" \
                    "$ref_name" "$size_ref" "$gref" "$gs"
            done
    }
    worst_rows 5 | sheets "$out/sheets/worst" 6 2
    worst_rows 12 | sheets "$out/sheets/gdi" 6 2
    summary "$out" "$(( $(date +%s) - $2 ))" | tee "$out/summary.txt"
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
    # Against GDI, per kind of metafile: how many agree with it, and of the rest whose drawing
    # was judged wrong (gdi-verdicts.tsv; "open" where no one has judged yet).
    awk -F '\t' -v a="$agree" 'NR > 1 && $10 != "-" {
            k = $10; n[k]++
            if ($12 == "-") { none[k]++; next }
            if ($12 < a) { ok[k]++; next }
            v = $14 == "-" ? "open" : $14; d[k, v]++; vs[v] = 1
            if ($13 != "-" && $13 < a && ($5 == "-" || $5 >= a)) both[k]++ }
        END { for (k in n) {
                printf "GDI, %s: %d; agree %d, differ %d (", k, n[k], ok[k] + 0,
                    n[k] - ok[k] - none[k]
                sep = ""; for (v in vs) if (d[k, v]) { printf "%s%s %d", sep, v, d[k, v]; sep = ", " }
                printf "), LibreOffice agreeing with GDI against ours %d, no GDI drawing %d\n",
                    both[k] + 0, none[k] + 0 } }' "$1/report.tsv"
    echo "report: $1/report.tsv; sheets: $1/sheets/ ($2 s)"
}

compare_runs() { # OLD NEW DIFF
    old=$(cd "$1" && pwd); new=$(cd "$2" && pwd)
    diff=${3:-$new/vs-$(basename "$old")}
    mkdir -p "$diff"
    printf 'file\tbefore\tafter\tchanged_pixels\terror_before\terror_after\tgdi_before\tgdi_after\n' \
        >"$diff/changed.tsv"
    tail -n +2 "$new/report.tsv" | sort -t '	' -k1,1 >"$diff/.new"
    # Only files in both runs are compared (a run without --rasters has no BMP/GIF/JPEG).
    tail -n +2 "$old/report.tsv" | sort -t '	' -k1,1 |
        join -t '	' -e - -o '1.1,1.2,1.3,1.5,1.12,2.1,2.2,2.3,2.5,2.12' - "$diff/.new" |
        while IFS='	' read -r _ ro so eo go f rn sn en gn; do
        a=$old/png/$f.png; b=$new/png/$f.png
        if [ "$ro $so" != "$rn $sn" ]; then share=1
        elif [ -s "$a" ] && [ -s "$b" ]; then
            share=$(compare -metric AE -fuzz 3% "$a" "$b" null: 2>&1 | awk -v s="$sn" '{
                split(s, d, "x"); printf "%.4f", $1 / (d[1] * d[2]) }')
        else share=0; fi
        [ "$share" = 0.0000 ] || [ "$share" = 0 ] ||
            printf '%s\t%s %s\t%s %s\t%s\t%s\t%s\t%s\t%s\n' "$f" "$ro" "$so" "$rn" "$sn" "$share" "$eo" \
                "$en" "$go" "$gn"
    done | sort -t '	' -k4,4gr >>"$diff/changed.tsv"
    rm -f "$diff/.new"
    tail -n +2 "$diff/changed.tsv" | while IFS='	' read -r f before after share eo en go gn; do
        reference "$f"
        gdi_ref "$f" "${after#* }"
        printf '%s   changed %s, against LO %s -> %s, against GDI %s -> %s\t%s\tbefore %s\t%s\tafter %s\t%s\t%s\t%s\tGDI\n' \
            "$f" "$share" "$eo" "$en" "$go" "$gn" "$old/png/$f.png" "$before" "$new/png/$f.png" "$after" \
            "$ref" "$ref_name" "$gref"
    done | sheets "$diff/sheets/changed" 4 1
    awk -F '\t' 'function tally(b, a, w) { if (b == "-" || a == "-") return
            if (a < b - 0.005) better[w]++; else if (a > b + 0.005) worse[w]++; else same[w]++ }
        NR > 1 { n++; tally($5, $6, "LibreOffice"); tally($7, $8, "GDI") }
        END { printf "%d files changed\n", n
            split("LibreOffice GDI", ws, " ")
            for (i = 1; i <= 2; i++) printf "  against %s: closer %d, further %d, about the same %d\n",
                ws[i], better[ws[i]], worse[ws[i]], same[ws[i]] }' "$diff/changed.tsv" | tee "$diff/summary.txt"
    echo "list: $diff/changed.tsv; sheets: $diff/sheets/"
}

case "$1" in
lo) fill_lo_cache ;;
report) [ $# -eq 2 ] || { echo "usage: $0 report OUT" >&2; exit 2; }
    report "$(cd "$2" && pwd)" "$(date +%s)" ;;
draw) [ $# -eq 3 ] || { echo "usage: $0 draw TREE OUT" >&2; exit 2; }; draw "$2" "$3" ;;
compare) [ $# -ge 3 ] || { echo "usage: $0 compare OLD NEW [DIFF]" >&2; exit 2; }
    compare_runs "$2" "$3" "${4:-}" ;;
*) echo "unknown command $1" >&2; exit 2 ;;
esac
