#!/usr/bin/env bash
# Makes, in the current folder, the files the README's and the manual's
# examples read, all from the bundled sample: the kinds of file people have,
# including those remap cannot read as they are. Needs Netpbm and ImageMagick.
# Usage: bash examples/make_inputs.sh   (from the folder to fill)
set -euo pipefail
sample=$(dirname "$0")/sample.ppm

cp "$sample" photo.ppm
pnmtopng photo.ppm > photo.png
# A JPEG carrying a comment, as many do.
convert photo.ppm -quality 95 -set comment "Lakeside, evening" photo.jpg
# A PPM as GIMP exports it, with a comment line.
{ printf 'P6\n# Created by GIMP version 2.10.34 PNM plug-in\n'; tail -c +4 photo.ppm; } > exported.ppm
cp exported.ppm commented.ppm
mkdir -p frames
for name in a b c d; do cp photo.ppm frames/$name.ppm; done
# 16 bits a sample, grey, and transparent from left to right.
convert photo.ppm -depth 16 PNG48:deep16.png
ppmtopgm photo.ppm | pnmtopng > grey.png
pgmramp -lr 320 240 > ramp.pgm
pnmtopng -alpha=ramp.pgm photo.ppm > clear.png
pamstack -tupletype=RGB_ALPHA photo.ppm ramp.pgm > photo.pam 2> /dev/null
rm ramp.pgm
# Taller than remap reads: 3 x 70000.
pnmtile 3 70000 photo.ppm > tall.ppm
