#!/bin/sh
# Writes the UTF-16 twins (little- and big-endian, each opening with its byte
# order mark, as exporters write them) of UTF-8 test files:
# ../two_objects.ase, ../bad_numfaces_twice.ase (a message with its line) and
# unicode_names.ase (names of two, three and four UTF-8
# bytes a character, the last as surrogate pairs in UTF-16).
set -e
cd "$(dirname "$0")"
for source in ../two_objects.ase ../bad_numfaces_twice.ase unicode_names.ase; do
  name=$(basename "$source" .ase)
  { printf '\377\376'; iconv -f UTF-8 -t UTF-16LE "$source"; } >"${name}_utf16le.ase"
  { printf '\376\377'; iconv -f UTF-8 -t UTF-16BE "$source"; } >"${name}_utf16be.ase"
done
