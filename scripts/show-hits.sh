#!/usr/bin/env bash
# Prints the hits of a search answer in XML (as the renderer writes it for
# "xml=1") as plain lines: rank, score, file, title.
set -euo pipefail
tr -d '\r' | tr '\n' ' ' | sed 's/<hit /\n<hit /g; s/<\/hits>/\n/' | awk '
  function field(name,   m) {
    if (match($0, "<" name "[^>]*>[^<]*</" name ">")) {
      m = substr($0, RSTART, RLENGTH); sub(/^<[^>]*>/, "", m); sub(/<[^>]*>$/, "", m); return m
    }
    return ""
  }
  /<hits / { if (match($0, /total="[0-9]*"/)) total = substr($0, RSTART + 7, RLENGTH - 8) }
  /^<hit / { n++; printf "%3d. [%s] %s\n     %s\n", n, field("score"), field("file"), field("title") }
  END { printf "%d of %s hits shown\n", n, total == "" ? "?" : total }' |
  sed 's/&lt;/</g; s/&gt;/>/g; s/&quot;/"/g; s/&amp;/\&/g'
