#!/usr/bin/env bash
# Builds the program for release, installs it into a staging folder, makes the Debian
# package, and checks both: every file in its place, the tools run from the staging
# folder, a C program builds against each library through pkg-config, and the package
# holds the same files and depends on what its binaries use.
#
#   bash scripts/package.sh        # the package lands in $BUILD (default build-release)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-build-release}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DZELVO_TESTS=OFF -DZELVO_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j2

STAGE=$ROOT/$BUILD/stage
rm -rf "$STAGE"
cmake --install "$BUILD" --prefix "$STAGE" >/dev/null
rm -f "$BUILD"/zelvo32_*.deb
(cd "$BUILD" && cpack -G DEB >/dev/null)

failures=0
fail() { echo "package: $*" >&2; failures=$((failures + 1)); }

# ---- the install tree
LIBDIR=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$BUILD/CMakeCache.txt")
tools=(zelvo32 zelvo32-transfer orvscript termdump)
if [ -x "$BUILD/bin/zelvo32-script" ]; then
  tools+=(zelvo32-script)
else
  echo "package: zelvo32-script is not built here: neither it nor its manual page is installed"
fi
expected=(
  "$LIBDIR/liborvscript.so" "$LIBDIR/libnerrit.so"
  include/orvscript.h include/nerrit.h
  "$LIBDIR/pkgconfig/orvscript.pc" "$LIBDIR/pkgconfig/nerrit.pc"
  bin/zelvo32.kbd
  share/applications/zelvo32.desktop share/icons/hicolor/scalable/apps/zelvo32.svg)
for tool in "${tools[@]}"; do
  expected+=("bin/$tool" "share/man/man1/$tool.1.gz")
done
for f in "${expected[@]}"; do
  [ -e "$STAGE/$f" ] || fail "not installed: $f"
done
for tool in "${tools[@]}"; do
  [ -x "$STAGE/bin/$tool" ] || fail "not executable: bin/$tool"
  if [ -e "$STAGE/share/man/man1/$tool.1.gz" ] && ! zcat "$STAGE/share/man/man1/$tool.1.gz" | grep -q '^\.TH'; then
    fail "not a manual page: share/man/man1/$tool.1.gz"
  fi
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$STAGE/share/applications/zelvo32.desktop" || fail "desktop entry does not validate"
fi

# The installed binaries find the installed libraries, not the build folder's.
for f in bin/zelvo32 bin/orvscript; do
  [ -e "$STAGE/$f" ] || continue
  resolved=$(ldd "$STAGE/$f" | awk '/liborvscript|libnerrit/ {print $3}')
  for lib in $resolved; do
    case $(readlink -f "$lib") in
      "$STAGE"/*) ;;
      *) fail "$f loads $lib from outside the install tree" ;;
    esac
  done
done

# The tools work from the install tree.
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
printf 'main() {\n  print("installed ", 6 * 7, "\\n");\n}\n' >"$TMP/hello.vm"
out=$("$STAGE/bin/orvscript" "$TMP/hello.vm" 2>&1) || fail "installed orvscript failed: $out"
[ "$out" = "installed 42" ] || fail "installed orvscript printed '$out'"
printf 'ab\x1b[2;3Hcd' >"$TMP/page.bin"
out=$("$STAGE/bin/termdump" --rows 2 "$TMP/page.bin" 2>&1) || fail "installed termdump failed: $out"
[ "$(printf '%s' "$out" | sed -n 2p)" = "  cd" ] || fail "installed termdump printed '$out'"
"$STAGE/bin/zelvo32-transfer" --help >/dev/null || fail "installed zelvo32-transfer --help failed"

# A C program builds and runs against each library through its pkg-config file.
export PKG_CONFIG_PATH=$STAGE/$LIBDIR/pkgconfig
cat >"$TMP/use_orvscript.c" <<'EOF'
#include <orvscript.h>
#include <stdio.h>
static void onError(const char* m) { fprintf(stderr, "%s\n", m); }
int main(int argc, char** argv)
{
    ScriptHandle* h = ScriptInit();
    int ok;
    (void)argc;
    ScriptSetErrorFunc(h, onError);
    ok = h && ScriptCompile(h, argv[1]) && ScriptExecute(h);
    ScriptClose(h);
    return ok ? 0 : 1;
}
EOF
cat >"$TMP/use_nerrit.c" <<'EOF'
#include <nerrit.h>
int main(void)
{
    uint32_t record[10];
    return ServerStatistic(record) == record && record[0] == 1 && record[1] == 0 ? 0 : 1;
}
EOF
for lib in orvscript nerrit; do
  if ! flags=$(pkg-config --cflags --libs "$lib"); then
    fail "pkg-config does not know $lib"
    continue
  fi
  # shellcheck disable=SC2086
  if ! cc -std=c99 -Wall -Werror -o "$TMP/use_$lib" "$TMP/use_$lib.c" $flags; then
    fail "a C program does not build against $lib"
    continue
  fi
  out=$(LD_LIBRARY_PATH=$STAGE/$LIBDIR "$TMP/use_$lib" "$TMP/hello.vm" 2>&1) \
    || fail "a C program linked against $lib failed: $out"
done

# ---- the package
shopt -s nullglob
debs=("$BUILD"/zelvo32_*.deb)
if [ ${#debs[@]} -ne 1 ]; then
  fail "cpack made ${#debs[@]} packages"
else
  deb=${debs[0]}
  echo "package: $deb"
  dpkg-deb -I "$deb"
  info=$(dpkg-deb -f "$deb")
  [ "$(dpkg-deb -f "$deb" Package)" = zelvo32 ] || fail "package name is not zelvo32"
  depends=$(dpkg-deb -f "$deb" Depends)
  names=$(tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/[ (].*//')
  for dep in libc6 libstdc++6 libqt6widgets6 libqt6gui6 libqt6core6; do
    grep -qxF "$dep" <<<"$names" || fail "Depends lacks $dep: $depends"
  done
  for bad in libasan libubsan libtsan; do
    ! grep -q "$bad" <<<"$depends" || fail "Depends names a sanitizer runtime: $depends"
  done
  [ -n "$(dpkg-deb -f "$deb" Description)" ] || fail "package has no description: $info"
  # The package holds exactly what the install puts into the tree, under /usr.
  (cd "$STAGE" && find . -mindepth 1 \( -type f -o -type l \) | sed 's|^\./|./usr/|' | sort) >"$TMP/tree"
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's| -> .*||' | sort >"$TMP/deb"
  # GNUInstallDirs may choose a different library folder for the /usr prefix.
  sed -i "s|^\./usr/$LIBDIR/|./usr/LIB/|" "$TMP/tree"
  sed -i -E "s|^\./usr/lib(/[a-z0-9_]+-linux-gnu)?/|./usr/LIB/|" "$TMP/deb"
  if ! diff -u "$TMP/tree" "$TMP/deb"; then
    fail "the package and the install tree differ (- tree, + package)"
  fi
  echo "package: contents"
  dpkg-deb -c "$deb" | awk '{print $6}'
fi

if [ "$failures" -ne 0 ]; then
  echo "package: $failures problem(s)" >&2
  exit 1
fi
echo "package: install tree and package checked"
