#!/usr/bin/env bash
# Usage: shaderLinkTest.sh SOURCE_DIR
# In a copy of the source tree: a fresh build folder gets HeatShader.cg as a
# relative link to shaders/HeatShader.cg; an edit made through the link
# survives a rebuild after the source changed; a regular file the user put in
# its place survives one too, with one configure-time message.
set -euo pipefail
source_dir=$1
work=$(mktemp -d /tmp/heat2d-shader-link-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

tar -C "$source_dir" --exclude='./build*' --exclude=./.git --exclude=./.gl --exclude=./.whl -cf - . | tar -C "$work" -xf -
src=$work
build=$src/build
link=$build/HeatShader.cg
source_shader=$src/shaders/HeatShader.cg

configure() { cmake -S "$src" -B "$build" -DHEAT2D_TESTS=OFF 2>"$work/configure.err" >/dev/null; }
rebuild() {
    # What a pull does: the shader and the build description change.
    touch "$source_shader" "$src/CMakeLists.txt"
    configure
    cmake --build "$build" --target heat2d -j2 >/dev/null
}

configure
[ -L "$link" ] || fail "no link in a fresh build folder: $(ls -l "$link" 2>&1)"
target=$(readlink "$link")
case $target in /*) fail "the link is absolute: $target" ;; esac
[ "$(cd "$build" && realpath "$target")" = "$(realpath "$source_shader")" ] ||
    fail "the link points at $target, not shaders/HeatShader.cg"
[ ! -s "$work/configure.err" ] || fail "a fresh configure said: $(cat "$work/configure.err")"

echo "// edited through the link" >>"$link"
rebuild
[ -L "$link" ] || fail "the rebuild replaced the link"
grep -q '^// edited through the link$' "$link" || fail "the edit made through the link is gone"
grep -q '^// edited through the link$' "$source_shader" || fail "the edit did not reach shaders/HeatShader.cg"
[ ! -s "$work/configure.err" ] || fail "configure with the link in place said: $(cat "$work/configure.err")"

rm "$link"
printf 'float4 main() : COLOR { return 0; }  // the user'"'"'s own\n' >"$link"
before=$(md5sum <"$link")
rebuild
[ -f "$link" ] && [ ! -L "$link" ] || fail "the user's regular file was replaced: $(ls -l "$link")"
[ "$(md5sum <"$link")" = "$before" ] || fail "the user's regular file changed"
lines=$(grep -c . "$work/configure.err" || true)
[ "$lines" -eq 1 ] && grep -q 'HeatShader.cg.*left alone' "$work/configure.err" ||
    fail "configure should say once that it left the file alone; it said: $(cat "$work/configure.err")"
echo "shader link: made, kept through a rebuild, and a user's file left alone with: $(cat "$work/configure.err")"
