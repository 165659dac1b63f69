# Shared by the benchmark scripts (sourced, not run).

# The median of the numbers on standard input, one a line ("nan" for none).
median() {
  sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) { print "nan"; exit }
    print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# make_documents DIR FOLDERS COUNT: FOLDERS folders DIR/1.. of COUNT text
# documents each, made of this machine's licence and copyright texts (the
# same documents on every run of one machine).
make_documents() {
  local dir=$1 folders=$2 count=$3 sources=() f k i src
  while IFS= read -r f; do sources+=("$f"); done < <(
    { ls /usr/share/common-licenses/* 2>/dev/null; find /usr/share/doc -maxdepth 2 -name copyright; } |
      sort)
  for k in $(seq 1 "$folders"); do
    mkdir -p "$dir/$k"
    for i in $(seq 0 $((count - 1))); do
      src=${sources[$(( (i * 7 + k) % ${#sources[@]} ))]}
      { echo "document $i of folder $k"; cat "$src"; } >"$dir/$k/doc$i.txt" 2>/dev/null || true
    done
  done
  chmod -R a+rX "$dir"
}
