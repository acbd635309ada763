#!/bin/sh
# Writes the UTF-16 twins (little- and big-endian, each opening with its byte
# order mark, as exporters write them) of UTF-8 test files:
# ../two_objects.ase, ../bad_numfaces_twice.ase (a message with its line),
# unicode_names.ase (names of two, three and four UTF-8 bytes a character, the
# last as surrogate pairs in UTF-16; its two U+FFFD become a lone high and a
# lone low surrogate; a face's flag keyword has a quote glued to it),
# refusals.ase (a refusal after a line end, then one
# whose line a pipe counts on from the first) and count_bound.ase (a count
# above what the file's characters can list).
set -e
cd "$(dirname "$0")"
# The first two U+FFFD units of a UTF-16 stream in byte order $1 (le, be)
# become a lone high surrogate (U+D83D, before a character that is none) and a
# lone low one (U+DE00).
lone_surrogates() {
  if [ "$1" = le ]; then fffd='\xFD\xFF' high='\x3D\xD8' low='\x00\xDE'; else
    fffd='\xFF\xFD' high='\xD8\x3D' low='\xDE\x00'; fi
  perl -0777 -pe "s/\G((?:..)*?)$fffd/\${1}$high/s; s/\G((?:..)*?)$fffd/\${1}$low/s"
}
for source in ../two_objects.ase ../bad_numfaces_twice.ase unicode_names.ase refusals.ase \
  count_bound.ase; do
  name=$(basename "$source" .ase)
  { printf '\377\376'; iconv -f UTF-8 -t UTF-16LE "$source" | lone_surrogates le; } >"${name}_utf16le.ase"
  { printf '\376\377'; iconv -f UTF-8 -t UTF-16BE "$source" | lone_surrogates be; } >"${name}_utf16be.ase"
done
