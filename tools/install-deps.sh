#!/bin/sh
# Installs the Debian packages that building, playing and testing need,
# but only those that are missing, so a ready machine starts at once.
# "install-deps.sh packaging" adds what make deb needs, "install-deps.sh fuzz"
# clang and libFuzzer for make fuzz, so make play stays lean.
set -e
needed="cmake g++ make pkg-config libncurses-dev libsdl2-mixer-dev libgtest-dev tmux"
if [ "${1-}" = packaging ]; then
    needed="$needed dpkg-dev file lintian man-db mandoc"
elif [ "${1-}" = fuzz ]; then
    needed="$needed clang libclang-rt-14-dev"
fi
missing=""
for p in $needed; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ]; then
    run=""
elif command -v sudo >/dev/null 2>&1; then
    run="sudo DEBIAN_FRONTEND=noninteractive"
else
    echo "The Quorvex needs these Debian packages:$missing" >&2
    echo "Install them as root: apt-get update && apt-get install$missing" >&2
    exit 1
fi
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
$run apt-get update -qq
$run apt-get install -y -qq $missing
