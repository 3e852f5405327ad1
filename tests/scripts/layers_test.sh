#!/usr/bin/env bash
# scripts/layers on a copy of src/: the copy as it is passes, also given relative paths; an include
# of ui/ planted in base/, quoted or angle-bracketed, after a comment, spelt with "%:", split over two
# lines or through a macro, fails naming the planted line; so does an upward include the exceptions
# file does not list, and an include through a macro the check cannot follow. Includes in comments
# and strings pass.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp -r "$repo/src" "$tmp/src"
cp "$repo/scripts/layers.allowed" "$tmp/layers.allowed"
check() { # expected status, then the line the output must hold ("" for none); from $tmp, relative
  local want=$1 line=$2 got=0
  (cd "$tmp" && "$repo/scripts/layers" src layers.allowed) >"$tmp/out" 2>&1 || got=$?
  cat "$tmp/out"
  [[ $got -eq $want ]] || { echo "FAIL: scripts/layers exited $got, expected $want"; exit 1; }
  [[ -z "$line" ]] || grep -qF -- "$line" "$tmp/out" || { echo "FAIL: no line \"$line\""; exit 1; }
}

check 0 ""
# A header of ui/ from base/, after the file's own includes.
sed -i '0,/^#include "base\/utils.h"/s//&\n#include "ui\/vyrpage.h"/' "$tmp/src/base/utils.cpp"
check 1 'base/utils.cpp:2: base (layer 2) includes ui/vyrpage.h (layer 7, higher)'
cp "$repo/src/base/utils.cpp" "$tmp/src/base/utils.cpp"
# The same header in angle brackets: src/ is an include folder, so it compiles just as well.
sed -i '0,/^#include "base\/utils.h"/s//&\n#include <ui\/vyrpage.h>/' "$tmp/src/base/utils.cpp"
check 1 'base/utils.cpp:2: base (layer 2) includes ui/vyrpage.h (layer 7, higher)'
cp "$repo/src/base/utils.cpp" "$tmp/src/base/utils.cpp"
# An accepted include is accepted for its own file only.
sed -i '1i #include "scaler/c331_manage.h"' "$tmp/src/params/config_engine.cpp"
check 1 'params/config_engine.cpp:1: params (layer 3) includes scaler/c331_manage.h (layer 6, higher)'
cp "$repo/src/params/config_engine.cpp" "$tmp/src/params/config_engine.cpp"
# A path relative to the including file counts by where it lands.
echo '#include "../ui/vyrpage.h"' >>"$tmp/src/base/delay.h"
check 1 'base/delay.h:'
cp "$repo/src/base/delay.h" "$tmp/src/base/delay.h"
# Read as the compiler reads it: after a comment, spelt "%:", split by a backslash, through a
# macro of the file's own (also one named by another), each reported at its #include line.
plant() { # lines after the file's first include, then the line the check must report
  local text=$1 line=$2
  awk -v text="$text" 'NR == 1 { print; print text; next } { print }' "$repo/src/base/utils.cpp" >"$tmp/src/base/utils.cpp"
  check 1 "$line"
  cp "$repo/src/base/utils.cpp" "$tmp/src/base/utils.cpp"
}
plant '/* c */ #include "ui/vyrpage.h"' 'base/utils.cpp:2: base (layer 2) includes ui/vyrpage.h (layer 7, higher)'
plant $'/* two\n lines */ # include <ui/vyrpage.h>' 'base/utils.cpp:3: base (layer 2) includes ui/vyrpage.h (layer 7, higher)'
plant '%:include "ui/vyrpage.h"' 'base/utils.cpp:2: base (layer 2) includes ui/vyrpage.h (layer 7, higher)'
plant $'#\\\ninclude "ui/vyrpage.h"' 'base/utils.cpp:2: base (layer 2) includes ui/vyrpage.h (layer 7, higher)'
plant $'#define H "ui/vyrpage.h"\n#include H' 'base/utils.cpp:3: base (layer 2) includes ui/vyrpage.h (layer 7, higher)'
plant $'#define PAGE <ui/vyrpage.h>\n#define H PAGE\n#include H' 'base/utils.cpp:4: base (layer 2) includes ui/vyrpage.h (layer 7, higher)'
# A macro the file does not define could name any header: it fails.
plant '#include VYR_HEADER' 'base/utils.cpp:2: an include through VYR_HEADER, which the check cannot follow'
# What the compiler never reads as a directive passes: in comments, in strings and raw strings.
awk 'NR == 1 { print; print "// #include \"ui/vyrpage.h\""; print "/*"; print "#include \"ui/vyrpage.h\""; print "*/"
  print "static const char* s = \"/* \\\" */\";"; print "static const char* r = R\"x(\")"; print "#include <ui/vyrpage.h>"
  print ")x\";"; next } { print }' "$repo/src/base/utils.cpp" >"$tmp/src/base/utils.cpp"
check 0 ""
cp "$repo/src/base/utils.cpp" "$tmp/src/base/utils.cpp"
# A new folder needs its place in the order before anything in it passes.
mkdir -p "$tmp/src/newpart"
echo '#include "base/utils.h"' >"$tmp/src/newpart/x.cpp"
check 1 'newpart/x.cpp: folder newpart has no place in the layer order'
echo PASS
