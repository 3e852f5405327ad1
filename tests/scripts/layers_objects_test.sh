#!/usr/bin/env bash
# scripts/layers --objects on planted objects laid out as a build lays out those of src/: a call
# from base/ into ui/ through a declaration of its own (no include), and a read of a ui/ variable,
# fail naming the file, the symbol and where it is defined; an accepted entry holds for its own file
# only, and one that names a symbol for that symbol only ("*" for every file, and only with a
# symbol); a template instance that base/ emits too is base's own code; relative arguments work.
#   CXX and NM: the build's compiler and nm (defaults c++ and nm)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
objects=build/CMakeFiles/vyr_core.dir/src
mkdir -p "$tmp/$objects/base" "$tmp/$objects/ui" "$tmp/plant"
compile() { # source text, object path under the build's src/
  printf '%s\n' "$1" >"$tmp/plant/x.cpp"
  ${CXX:-c++} -std=c++17 -O2 -c "$tmp/plant/x.cpp" -o "$tmp/$objects/$2.o"
}
twice='template <class T> T twice(T v) { return v + v; }'
compile "namespace page { void show(int); extern int shown; }
$twice
extern template int twice<int>(int);
void low(int v) { page::show(twice(v)); }" base/low.cpp
compile "$twice
template int twice<int>(int);" base/twice.cpp
compile "namespace page { int shown; void show(int v) { shown = v; } }
$twice
template int twice<int>(int);
int high(int v) { return twice(v) + page::shown; }" ui/high.cpp
compile "namespace page { extern int shown; }
int peek() { return page::shown; }" base/peek.cpp
touch "$tmp/none.allowed"

check() { # allowed list, expected status, then lines the output must hold; run from $tmp, relative
  local allowed=$1 want=$2 got=0
  shift 2
  (cd "$tmp" && NM=${NM:-nm} "$repo/scripts/layers" --objects build "$allowed") >"$tmp/out" 2>&1 || got=$?
  cat "$tmp/out"
  [[ $got -eq $want ]] || { echo "FAIL: scripts/layers --objects exited $got, expected $want"; exit 1; }
  for line in "$@"; do
    grep -qF -- "$line" "$tmp/out" || { echo "FAIL: no line \"$line\""; exit 1; }
  done
  if grep -q 'twice' "$tmp/out"; then echo "FAIL: the template instance base/ emits too was reported"; exit 1; fi
}

check none.allowed 1 \
  'base/low.cpp: base (layer 2) uses page::show(int) of ui/high.cpp (layer 7, higher)' \
  'base/peek.cpp: base (layer 2) uses page::shown of ui/high.cpp (layer 7, higher)'
# Accepted for base/low.cpp, not for base/peek.cpp.
echo 'base/low.cpp ui/high.cpp the planted call' >"$tmp/low.allowed"
check low.allowed 1 'base/peek.cpp: base (layer 2) uses page::shown of ui/high.cpp (layer 7, higher)'
if grep -q 'base/low.cpp:' "$tmp/out"; then echo "FAIL: the accepted call was reported"; exit 1; fi
# Both accepted: the planted tree passes.
echo 'base/peek.cpp ui/high.cpp the planted read' >>"$tmp/low.allowed"
check low.allowed 0 'layers: the objects of src/ keep their layers'
# A name of the defining file accepts that name only, from the file given or with "*" from every
# object; "*" never takes a whole file.
echo 'base/low.cpp ui/high.cpp:page::show the planted call' >"$tmp/named.allowed"
echo 'base/peek.cpp ui/high.cpp:page::show not what it reads' >>"$tmp/named.allowed"
check named.allowed 1 'base/peek.cpp: base (layer 2) uses page::shown of ui/high.cpp (layer 7, higher)'
if grep -q 'base/low.cpp:' "$tmp/out"; then echo "FAIL: the accepted call was reported"; exit 1; fi
echo '* ui/high.cpp:page::show stands in for a library' >"$tmp/any.allowed"
check any.allowed 1 'base/peek.cpp: base (layer 2) uses page::shown of ui/high.cpp (layer 7, higher)'
if grep -q 'base/low.cpp:' "$tmp/out"; then echo "FAIL: the call accepted from every object was reported"; exit 1; fi
echo '* ui/high.cpp:page::shown stands in for a library' >>"$tmp/any.allowed"
check any.allowed 0 'layers: the objects of src/ keep their layers'
echo '* ui/other.cpp:page::show stands in for a library' >"$tmp/other.allowed"
check other.allowed 1 'base/low.cpp: base (layer 2) uses page::show(int) of ui/high.cpp (layer 7, higher)'
echo '* ui/high.cpp stands in for a library' >"$tmp/whole.allowed"
check whole.allowed 1 '"*" accepts one name of a file from every object, never the whole file: * ui/high.cpp'
# A folder outside the order fails, as the include check does.
mkdir -p "$tmp/$objects/newpart"
compile 'int part() { return 1; }' newpart/x.cpp
check low.allowed 1 'layers: newpart/x.cpp: folder newpart has no place in the layer order'
echo PASS
