#!/usr/bin/env bash
# Renders the program's icon, app/icons/kronex-atu.svg, to the PNG sizes the
# Linux package installs and to the .ico of the Windows executable. Run after
# changing the drawing (needs ImageMagick); the results are kept in the tree.
set -euo pipefail
cd "$(dirname "$0")/../app/icons"
render() { convert -background none -density 384 kronex-atu.svg -resize "$1x$1" -strip "$2"; }
for size in 48 128 256; do
  render "$size" "PNG32:kronex-atu-$size.png"
done
render 256 PNG32:ico-256.png
convert ico-256.png -define icon:auto-resize=256,64,48,32,16 kronex-atu.ico
rm ico-256.png
