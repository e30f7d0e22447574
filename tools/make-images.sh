#!/bin/sh
# Draws the program's images with ImageMagick and writes them to
# resources/images/. The results are committed: building needs no
# ImageMagick, only this script does when an image changes.
#
#   tools/make-images.sh
#
# Every image is drawn on white, the background of the dialogs that show
# them, so anti-aliased edges blend into it instead of fringing.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/resources/images"
work=$(mktemp -d /tmp/nulvane-images.XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM
mkdir -p "$out"

teal='#1B6F8A'
dark='#12485A'
green='#2E9E5B'
track='#E1E7EC'
rule='#D3DDE4'
grey='#6B7A86'
bold=DejaVu-Sans-Bold
sans=DejaVu-Sans

# Bitmaps are written as plain 24-bit BMP files, which LoadBitmap reads on
# every Windows version.
bmp() { convert "$1" -alpha off -type TrueColor "BMP3:$2"; }

# ImageMagick puts a private application extension after each frame's
# graphic control extension. Wine's GIF decoder then loses the delays of
# every frame but the first, so those blocks are dropped; the NETSCAPE2.0
# loop block stays.
strip_gif() {
    python3 - "$1" <<'PY'
import sys
path = sys.argv[1]
data = open(path, 'rb').read()
flags = data[10]
pos = 13 + (3 * (2 << (flags & 7)) if flags & 0x80 else 0)
out = bytearray(data[:pos])

def skip_sub_blocks(i):
    while data[i] != 0:
        i += 1 + data[i]
    return i + 1

while pos < len(data):
    kind = data[pos]
    if kind == 0x21:
        end = skip_sub_blocks(pos + 2)
        first = data[pos + 3:pos + 3 + data[pos + 2]]
        if data[pos + 1] != 0xFF or first.startswith(b'NETSCAPE2.0'):
            out += data[pos:end]
        pos = end
    elif kind == 0x2C:
        packed = data[pos + 9]
        start = pos + 10 + (3 * (2 << (packed & 7)) if packed & 0x80 else 0)
        end = skip_sub_blocks(start + 1)
        out += data[pos:end]
        pos = end
    else:
        out += data[pos:]
        break
open(path, 'wb').write(out)
PY
}

# 312: the clean-up dialog's header: an emblem and the product name.
convert -size 216x88 xc:white \
    -fill "$teal" -draw "path 'M 30,14 L 50,21 L 50,41 Q 50,60 30,73 Q 10,60 10,41 L 10,21 Z'" \
    -fill none -stroke white -strokewidth 4.5 \
    -draw "stroke-linecap round stroke-linejoin round polyline 20,43 27,50 40,34" \
    -stroke none -fill "$dark" -font "$bold" -pointsize 26 -annotate +60+48 'Nulvane' \
    -fill "$grey" -font "$sans" -pointsize 10 -annotate +62+65 'Cleaning up your session' \
    "$work/header.png"
bmp "$work/header.png" "$out/cleanup-header.bmp"

# 317: the panel behind the five rows: a white card with a soft border.
convert -size 348x236 xc:white \
    -fill none -stroke "$rule" -strokewidth 1 -draw "roundrectangle 0.5,0.5 347.5,235.5 10,10" \
    "$work/panel.png"
bmp "$work/panel.png" "$out/cleanup-panel.bmp"

# 308 and 305: the close button, plain and under the mouse.
convert -size 16x16 xc:white -stroke '#8593A0' -strokewidth 1.6 \
    -draw "line 4.5,4.5 11.5,11.5" -draw "line 11.5,4.5 4.5,11.5" "$work/close.png"
bmp "$work/close.png" "$out/close-normal.bmp"
convert -size 16x16 xc:white -fill '#D9534F' -draw "circle 7.5,7.5 7.5,0" \
    -stroke white -strokewidth 1.6 -draw "line 4.8,4.8 10.2,10.2" -draw "line 10.2,4.8 4.8,10.2" \
    "$work/close-hot.png"
bmp "$work/close-hot.png" "$out/close-hot.bmp"

# 276: a row's working animation, 40 x 30, seven frames of 90 ms: a ring
# that fills clockwise from twelve o'clock. 630 ms ends well inside the
# dialog's third 250 ms check, even with late timers.
frames=""
for k in 1 2 3 4 5 6 7; do
    # The arc as a polyline of 2-degree steps: ImageMagick closes the
    # stroke of an arc path with a chord.
    arc=$(awk -v k="$k" 'BEGIN {
        pi = atan2(0, -1); n = int(180 * k / 7)
        printf "polyline"
        for (i = 0; i <= n; i++) { a = -pi / 2 + pi * i / 90; printf " %.3f,%.3f", 20 + 10 * cos(a), 15 + 10 * sin(a) } }')
    convert -size 40x30 xc:white \
        -fill none -stroke "$track" -strokewidth 3 -draw "circle 20,15 20,5" \
        -stroke "$teal" -draw "stroke-linecap round stroke-linejoin round $arc" \
        "$work/working-$k.png"
    frames="$frames $work/working-$k.png"
done
# shellcheck disable=SC2086
convert -dispose None -delay 9 $frames -loop 1 "$out/cleanup-working.gif"

# 239: a row's done mark, 27 x 27, fourteen frames, 600 ms: a green disc
# grows (overshooting a little), then a white tick is drawn stroke by stroke.
done_frame() {
    # $1 file, $2 disc radius, $3 how much of the tick (0 to 1)
    convert -size 27x27 xc:white -fill "$green" -draw "circle 13,13 13,$(awk "BEGIN { print 13 - $2 }")" \
        "$1.png"
    tick=$(awk -v t="$3" 'BEGIN {
        ax = 7.5; ay = 13.5; bx = 11.5; by = 17.5; cx = 19.5; cy = 9.0
        l1 = sqrt((bx-ax)^2 + (by-ay)^2); l2 = sqrt((cx-bx)^2 + (cy-by)^2); d = t * (l1 + l2)
        if (d <= 0) { exit }
        if (d <= l1) { printf "polyline %.2f,%.2f %.2f,%.2f", ax, ay, ax + (bx-ax)*d/l1, ay + (by-ay)*d/l1; exit }
        e = (d - l1) / l2
        printf "polyline %.2f,%.2f %.2f,%.2f %.2f,%.2f", ax, ay, bx, by, bx + (cx-bx)*e, by + (cy-by)*e }')
    if [ -n "$tick" ]; then
        convert "$1.png" -fill none -stroke white -strokewidth 2.6 \
            -draw "stroke-linecap round stroke-linejoin round $tick" "$1.png"
    fi
}
frames=""
i=0
for frame_args in "3 0" "6 0" "9 0" "12 0" "13.4 0" "12.5 0.15" "12.5 0.27" "12.5 0.38" "12.5 0.5" \
            "12.5 0.62" "12.5 0.74" "12.5 0.86" "12.5 0.95" "12.5 1"; do
    # shellcheck disable=SC2086
    done_frame "$work/done-$i" $frame_args
    frames="$frames -delay 4 $work/done-$i.png"
    i=$((i + 1))
done
# The last frame holds a little longer: 13 x 40 ms + 80 ms = 600 ms.
frames=$(echo "$frames" | sed "s| -delay 4 $work/done-13.png| -delay 8 $work/done-13.png|")
# shellcheck disable=SC2086
convert -dispose None $frames -loop 1 "$out/cleanup-done.gif"

# 240: a one-frame, 16 x 16 done mark.
convert -size 16x16 xc:white -fill "$green" -draw "circle 7.5,7.5 7.5,0.3" \
    -fill none -stroke white -strokewidth 1.8 -draw "stroke-linecap round stroke-linejoin round polyline 4.2,8 6.8,10.6 11.6,5.2" \
    "$work/done-small.png"
convert "$work/done-small.png" "$out/cleanup-done-small.gif"

# 314: the banner along the dialog's foot, 443 x 27, one frame: a rule that
# fades out to the right and a line of text. Both are left-aligned, so the
# banner also looks intended where a wider dialog font leaves room beside it.
convert -size 443x1 gradient:"$rule"-white "$work/rule.png"
convert -size 443x27 xc:white "$work/rule.png" -geometry +0+2 -composite \
    -fill "$grey" -font "$sans" -pointsize 10 -annotate +24+19 \
    'Private browsing that leaves no trace on this computer' \
    "$work/banner.png"
convert "$work/banner.png" -loop 0 "$out/cleanup-banner.gif"

# 128: the program icon in the sizes Windows asks for.
convert -size 256x256 xc:none \
    -fill "$teal" -draw "roundrectangle 8,8 247,247 48,48" \
    -fill white -draw "path 'M 128,40 L 200,66 L 200,128 Q 200,190 128,224 Q 56,190 56,128 L 56,66 Z'" \
    -fill none -stroke "$teal" -strokewidth 20 -draw "stroke-linecap round stroke-linejoin round polyline 92,132 118,158 168,100" \
    "$work/icon-256.png"
convert "$work/icon-256.png" -define icon:auto-resize=48,32,24,16 "$out/nulvane.ico"

# The picture of the program's own "page not found" page (DNSERROR.HTM):
# a disconnected plug on white, 96 x 96.
convert -size 96x96 xc:white \
    -fill none -stroke "$teal" -strokewidth 6 -draw "stroke-linecap round line 10,48 34,48" -draw "stroke-linecap round line 62,48 86,48" \
    -fill "$teal" -stroke none -draw "roundrectangle 30,34 42,62 3,3" -draw "roundrectangle 54,34 66,62 3,3" \
    -fill "$grey" -draw "rectangle 22,38 30,42" -draw "rectangle 22,54 30,58" \
    -quality 90 "$out/DNSERROR.JPG"

# 340 and 341: the browser window's buttons, one grid per scaling (100% and
# 150%): a column per glyph, in the order the code names them, and a row
# per state: normal, under the mouse, disabled. Glyphs are drawn once, on a
# 28-unit cell, and scaled by the drawing itself, so each size is drawn at
# its own resolution rather than resampled. The cells are transparent
# (32-bit with alpha): the same image serves on any background.
ink='#33434F'
ink_off='#B3BDC5'
hover='#DCE3E9'
red='#D93A31'
star=$(awk 'BEGIN { pi = atan2(0, -1); printf "polygon"
    for (i = 0; i < 10; i++) { r = (i % 2) ? 3.1 : 7.2; a = -pi / 2 + i * pi / 5
        printf " %.2f,%.2f", 14 + r * cos(a), 14.4 + r * sin(a) } }')
glyph() {
    # $1 name; prints the MVG of the glyph in the current stroke colour.
    case $1 in
    back) echo "line 7.5,14 20.5,14 polyline 13,8.5 7.5,14 13,19.5" ;;
    forward) echo "line 7.5,14 20.5,14 polyline 15,8.5 20.5,14 15,19.5" ;;
    refresh) echo "path 'M 20.5,12.3 L 19.63,10.75 A 6.5,6.5 0 1 0 20.28,15.68' polyline 21.54,8.44 20.5,12.3 16.64,11.26" ;;
    stop) echo "line 9,9 19,19 line 19,9 9,19" ;;
    home) echo "polyline 7,14 14,7.5 21,14 polyline 9.5,12 9.5,20.5 18.5,20.5 18.5,12" ;;
    go) echo "line 9,14 19,14 polyline 14.5,9.5 19,14 14.5,18.5" ;;
    search) echo "circle 12.5,12.5 12.5,7.5 line 16.2,16.2 20.5,20.5" ;;
    print) echo "polyline 10,11 10,7 18,7 18,11 polyline 10,18 7,18 7,11 21,11 21,18 18,18 rectangle 10,15 18,21" ;;
    tools) echo "line 8,9.5 20,9.5 line 8,14 20,14 line 8,18.5 20,18.5" ;;
    boss) echo "polygon 15.5,6 9,15.5 13.5,15.5 12.5,22 19,12.5 14.5,12.5" ;;
    minimise) echo "line 9,14.5 19,14.5" ;;
    maximise) echo "rectangle 9.5,9.5 18.5,18.5" ;;
    restore) echo "rectangle 9,11.5 16.5,19 polyline 11.5,11.5 11.5,9 19,9 19,16.5 16.5,16.5" ;;
    close) echo "line 9.5,9.5 18.5,18.5 line 18.5,9.5 9.5,18.5" ;;
    newtab) echo "line 14,8.5 14,19.5 line 8.5,14 19.5,14" ;;
    tabclose) echo "line 11.2,11.2 16.8,16.8 line 16.8,11.2 11.2,16.8" ;;
    tablist) echo "polyline 9.5,12 14,16.5 18.5,12" ;;
    left) echo "polyline 16,9 11,14 16,19" ;;
    right) echo "polyline 12,9 17,14 12,19" ;;
    star) echo "fill @ $star" ;;
    lock) echo "path 'M 10.5,13 L 10.5,10.5 A 3.5,3.5 0 0 1 17.5,10.5 L 17.5,13' fill @ roundrectangle 8.5,13 19.5,21 1.5,1.5" ;;
    esac
}
chrome() {
    # $1 scale, $2 output file
    size=$(awk "BEGIN { print int(28 * $1 + 0.5) }")
    rows=""
    for state in normal hot off; do
        cells=""
        for name in back forward refresh stop home go search print tools boss minimise maximise restore close \
                newtab tabclose tablist left right star lock; do
            colour=$ink; back=""
            [ "$state" = off ] && colour=$ink_off
            [ "$state" = hot ] && back="fill $hover roundrectangle 1.5,1.5 26.5,26.5 4,4"
            case $name in
            close) [ "$state" = hot ] && { back="fill $red roundrectangle 1.5,1.5 26.5,26.5 4,4"; colour=white; } ;;
            go) disc=$teal; [ "$state" = hot ] && disc=$dark; [ "$state" = off ] && disc=$ink_off
                back="fill $disc circle 14,14 14,5"; colour=white ;;
            tabclose) [ "$state" = hot ] && back="fill #C9D2DA circle 14,14 14,7" ;;
            star) [ "$state" = off ] || colour=$teal ;;
            lock) [ "$state" = off ] || colour=$green ;;
            esac
            mvg=$(glyph $name | sed "s/@/$colour/g")
            convert -size "${size}x${size}" xc:none -draw "scale $1,$1 $back" \
                -draw "scale $1,$1 fill none stroke $colour stroke-width 1.6 stroke-linecap round stroke-linejoin round $mvg" \
                "$work/cell-$state-$name.png"
            cells="$cells $work/cell-$state-$name.png"
        done
        # shellcheck disable=SC2086
        convert $cells +append "$work/row-$state.png"
        rows="$rows $work/row-$state.png"
    done
    # shellcheck disable=SC2086
    convert $rows -append -type TrueColorAlpha -define bmp:format=bmp4 "BMP:$2"
}
chrome 1 "$out/chrome-100.bmp"
chrome 1.5 "$out/chrome-150.bmp"

for gif in "$out"/*.gif; do
    strip_gif "$gif"
done

echo "images written to $out"
