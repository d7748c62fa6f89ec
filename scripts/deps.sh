# Sourced by run.sh and test.sh: installs the Debian packages named in "$@"
# that are missing. Needs root, or sudo.
install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

BUILD_PACKAGES=(build-essential cmake pkg-config freeglut3-dev libglew-dev libglu1-mesa-dev
                libgl1-mesa-dri libx11-dev)
# vim: the live-editing tests save HeatShader.cg with it, as a person would.
TEST_PACKAGES=(libgtest-dev xvfb xauth xdotool x11-apps x11-utils imagemagick apitrace
               mesa-utils coreutils valgrind vim python3)
# libFuzzer's runtime is only recommended by clang, and --no-install-recommends skips it;
# llvm gives the sanitizers' reports their symbol names.
FUZZ_PACKAGES=(clang libclang-rt-14-dev llvm)
