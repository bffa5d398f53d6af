#!/bin/sh
# Remakes the stills of the list and sequence tests with ImageMagick 6:
# two 8 x 6 pictures and a smaller 4 x 3 one, each of one colour, 24-bit
# RGB without ancillary chunks.
set -e
convert=${CONVERT:-convert}  # ImageMagick's, not a stand-in of that name
cd "$(dirname "$0")"
"$convert" -size 8x6 'xc:rgb(30,225,100)' -strip -define png:color-type=2 p00.png
"$convert" -size 8x6 'xc:rgb(50,205,100)' -strip -define png:color-type=2 p01.png
"$convert" -size 4x3 'xc:rgb(70,185,100)' -strip -define png:color-type=2 p02.png
