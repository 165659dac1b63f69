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

# make_man_documents DIR FOLDERS COUNT: up to COUNT documents spread over
# FOLDERS folders DIR/1.., the text of this machine's manual pages (English
# first, other languages only to make up the count), their roff reduced to
# words; the same pages on every run of one machine. Prints how many it made.
# MAN_DIR names another tree of manual pages.
make_man_documents() {
  python3 - "$@" <<'PY'
import gzip, os, random, re, sys
out, folders, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
top = os.environ.get("MAN_DIR", "/usr/share/man")
def pages(root):
    found = []
    for d in sorted(os.listdir(root)) if os.path.isdir(root) else []:
        if re.fullmatch(r"man[1-9]\w*", d):
            p = os.path.join(root, d)
            found += sorted(os.path.join(p, f) for f in os.listdir(p) if f.endswith(".gz"))
    return [f for f in found if not os.path.islink(f)]
english = pages(top)
others = []
for lang in sorted(os.listdir(top)) if os.path.isdir(top) else []:
    if not lang.startswith("man"):
        others += pages(os.path.join(top, lang))
random.Random(1).shuffle(english)
random.Random(2).shuffle(others)
# Macros whose arguments are text of the page; every other request line is
# layout and goes.
text_macro = re.compile(r"^[.'](SH|SS|B|I|BR|BI|IB|IR|RB|RI|TH|IP|SM|SB|"
                        r"Nm|Nd|Sh|Ss|Fl|Ar|Op|Dl|It|Pa|Xr)\b\s*")
escapes = [(re.compile(p), r) for p, r in [
    (r"\\f(\[[^]]*\]|\(..|.)", ""), (r"\\s[-+]?\d", ""), (r"\\\*(\(..|\[[^]]*\]|.)", ""),
    (r"\\\((em|en|hy)", "-"), (r"\\(\(..|\[[^]]*\])", " "), (r"\\-", "-"), (r"\\e", r"\\"),
    (r"\\[&,/|^%:c{}]", ""), (r"\\ ", " ")]]
for k in range(1, folders + 1):
    os.makedirs(os.path.join(out, str(k)), exist_ok=True)
made = 0
for path in english + others:
    if made == count:
        break
    try:
        with gzip.open(path, "rt", encoding="utf-8", errors="replace") as f:
            source = f.read()
    except (OSError, EOFError):
        continue
    lines, in_macro = [], False
    for line in source.splitlines():
        if in_macro:
            in_macro = not line.startswith("..")
            continue
        if line.startswith(".so "):  # a link to another page
            lines = []
            break
        if line.startswith((".de", ".ig")):
            in_macro = True
            continue
        if line[:1] in (".", "'"):
            m = text_macro.match(line)
            line = line[m.end():].replace('"', "") if m else ""
        for p, r in escapes:
            line = p.sub(r, line)
        if line.strip() or (lines and lines[-1].strip()):
            lines.append(line)
    if len(lines) < 5:
        continue
    name = re.sub(r"[^\w.-]", "_", os.path.basename(path)[:-3])
    with open(os.path.join(out, str(made % folders + 1), "%s-%d.txt" % (name, made)), "w",
              encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    made += 1
print(made)
PY
  chmod -R a+rX "$1"
}

# install_indexed ROOT BUILD_DIR DOCS FOLDERS: installs BUILD_DIR at ROOT with
# one index of each folder DOCS/1..FOLDERS; their ids, as a request names
# them, go to ROOT/uids in folder order.
install_indexed() {
  local root=$1 docs=$3 k
  cmake --install "$2" --prefix "$root" >/dev/null
  : >"$root/uids"
  for k in $(seq 1 "$4"); do
    echo "7F000001_$(cd "$root/search-cgi" && ../binind/index_builder create --owner bench \
      "$docs/$k" 2>/dev/null)" >>"$root/uids"
  done
}

# settle_programs FILE...: each program as a machine that has run it since
# its last start holds it. A file just written sits in the page cache in
# the pieces it was written in, and a program started from those takes
# measurably longer to map its pages (about 0.3 ms for searchrun here) than
# one read back from the disk; installing copies some programs one way and
# others another, so every program compared is written out and dropped from
# the cache, to be read back when it is first started.
settle_programs() {
  local f
  sync
  for f in "$@"; do
    [ -f "$f" ] && dd if="$f" iflag=nocache count=0 status=none
  done
  return 0
}

# expire_files DIR N: makes N files in DIR and removes them, as the expiry
# of old results does between requests: on ext4 without a journal, each file
# made there for minutes after passes over the inodes freed.
expire_files() {
  local i
  for ((i = 0; i < $2; i++)); do : >"$1/.expired.$i"; done
  rm -f "$1"/.expired.*
}

# engine_service start|stop ROOT: the installation's engine service, started
# as its own automatic start would (a missing service is no error: an older
# build runs its engine programs directly).
engine_service() {
  local root=$2 _
  [ -x "$root/binind/vela_service" ] || return 0
  if [ "$1" = start ]; then
    printf 'AUTO_START=yes\n' >"$root/setting/engine_service.cfg"
    "$root/binind/vela_service" --root "$root" >/dev/null 2>&1 &
    # A build with searchrun workers is ready once they listen too.
    local sock=$root/run/engine.sock
    [ -x "$root/binind/searchrun.full" ] && sock=$root/run/front.sock
    for _ in $(seq 1 100); do [ -S "$sock" ] && return 0; sleep 0.05; done
    echo "the engine service of $root did not start" >&2
    return 1
  fi
  [ -s "$root/run/engine.lock" ] && kill "$(cat "$root/run/engine.lock")" 2>/dev/null
  for _ in $(seq 1 100); do [ -S "$root/run/engine.sock" ] || return 0; sleep 0.05; done
}
