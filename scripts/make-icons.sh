#!/usr/bin/env bash
# Draws the two application icons (idle: blue, session active: red) at every
# size Windows asks for and packs them into resources/*.ico. Run by hand when
# the design changes; the .ico files are kept in the repository.
set -euo pipefail
cd "$(dirname "$0")/../resources"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

draw() {  # draw NAME COLOUR
  local name="$1" colour="$2" s files=()
  for s in 16 24 32 48 64 128 256; do
    # Drawn on a 256 grid and scaled, so every size has the same shape.
    convert -size 256x256 xc:none \
      -fill "$colour" -draw "roundrectangle 8,8 248,248 48,48" \
      -fill none -stroke white -strokewidth 18 -draw "roundrectangle 52,64 204,164 14,14" \
      -fill white -stroke none -draw "rectangle 116,164 140,194" \
      -draw "roundrectangle 80,190 176,208 8,8" \
      -resize "${s}x${s}" -depth 8 "PNG32:$tmp/$name-$s.png"
    files+=("$tmp/$name-$s.png")
  done
  convert "${files[@]}" "$name.ico"
}

draw idle '#2f6fde'
draw active '#d9412b'
