#!/bin/sh
# Installs the Debian packages that a make target needs, but only those that
# are missing, so a ready machine starts at once. Without recommended
# packages: nothing here needs them.
#   install-deps.sh [play]    building and playing the game (make included)
#   install-deps.sh test      and the tests: GoogleTest, tmux, the terminal
#                             types of the terminal matrix (ncurses-term) and
#                             its VT emulator (python3-pyte)
#   install-deps.sh packaging and make deb's tools
#   install-deps.sh fuzz      and clang with libFuzzer for make fuzz
# The game loads SDL2_mixer at run time, so sound needs the library only
# (libsdl2-mixer-2.0-0), not SDL's development files.
set -e
needed="cmake g++ make pkg-config libncurses-dev libsdl2-mixer-2.0-0"
case "${1-play}" in
play) ;;
test) needed="$needed libgtest-dev tmux ncurses-term python3-pyte" ;;
packaging) needed="$needed dpkg-dev file lintian man-db mandoc" ;;
fuzz) needed="$needed clang libclang-rt-14-dev" ;;
*)
    echo "usage: install-deps.sh [play | test | packaging | fuzz]" >&2
    exit 2
    ;;
esac
missing=""
for p in $needed; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0
if ! command -v apt-get >/dev/null 2>&1; then
    echo "The Quorvex builds on Debian 12; install these packages or their like:$missing" >&2
    exit 1
fi
if [ "$(id -u)" = 0 ]; then
    run="env"
elif command -v sudo >/dev/null 2>&1; then
    run="sudo env"
else
    echo "The Quorvex needs these Debian packages:$missing" >&2
    echo "Install them as root (su -), then try again:" >&2
    echo "  apt-get update && apt-get install --no-install-recommends$missing" >&2
    exit 1
fi
echo "Installing:$missing"
# A fresh machine's apt finds no package before its first update.
$run DEBIAN_FRONTEND=noninteractive apt-get update -qq
$run DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout=120 $missing
