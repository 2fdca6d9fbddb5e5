#!/bin/sh
# Checks the package that make deb built: what it installs (dpkg-deb -c), its
# control fields, its man pages (mandoc) and lintian, which must find no tag
# down to the informational ones.
set -eu
deb=${1:?usage: packaging/check-deb.sh build/quorvex_VERSION_ARCH.deb}
source=$(cd "$(dirname "$0")/.." && pwd)
failed=0
problem() {
    echo "check-deb: $*" >&2
    failed=1
}

# dpkg-deb -c: permissions, owner, size, date, time, then the path (which may hold spaces).
listing=$(dpkg-deb -c "$deb")
paths=$(printf '%s\n' "$listing" | sed 's/^[^ ]* [^ ]* *[0-9]* [^ ]* [^ ]* //')
has() {
    printf '%s\n' "$paths" | grep -qxF "$1" || problem "missing: $1"
}

has ./usr/games/quorvex
has ./usr/lib/games/quorvex/quorvex
has ./usr/share/applications/quorvex.desktop
has ./usr/share/icons/hicolor/scalable/apps/quorvex.svg
has ./usr/share/doc/quorvex/copyright
has ./usr/share/doc/quorvex/changelog.gz
for room in "$source"/data/levels/*.lvl "$source"/data/levels/*.par "$source"/data/Sound/*.wav; do
    has "./usr/share/games/quorvex/${room#"$source"/data/}"
done
has "./usr/share/games/quorvex/levels/custom levels/sampler/sampler.txt"
# Every command has its man page.
for command in $(printf '%s\n' "$paths" | sed -n 's|^\./usr/games/\(..*\)$|\1|p'); do
    has "./usr/share/man/man6/$command.6.gz"
done
printf '%s\n' "$paths" | grep -v -e '^\./usr/' -e '^\./$' | grep -q . && problem "files outside /usr"
printf '%s\n' "$paths" | grep -E '\.sav$' && problem "a save file in the package"
printf '%s\n' "$listing" | grep -v ' root/root ' | grep -q . && problem "files not owned by root"

version=$(dpkg-deb -f "$deb" Version)
case $(basename "$deb") in
"quorvex_${version}_$(dpkg-deb -f "$deb" Architecture).deb") ;;
*) problem "the file name does not match version $version" ;;
esac
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libtinfo6 libsdl2-mixer-2.0-0; do
    case $depends in
    *"$library "*) ;;
    *) problem "Depends lacks $library: $depends" ;;
    esac
done
[ "$(dpkg-deb -f "$deb" Section)" = games ] || problem "Section is not games"

# The man pages as mandoc reads them: dates, macros, no warnings.
for page in "$source"/man/*.6; do
    warnings=$(mandoc -T lint -W warning "$page" 2>&1) || problem "mandoc: $warnings"
done

# Every tag down to the informational ones counts; the overrides that the
# package ships say why each remaining one does not apply.
echo "lintian $deb:"
if report=$(lintian --fail-on error,warning,info --display-info "$deb" 2>&1); then lintianFailed=0; else lintianFailed=1; fi
printf '%s\n' "$report" | grep -v '^running with root privileges' || true
[ $lintianFailed = 0 ] || problem "lintian found tags"
[ $failed = 0 ] && echo "check-deb: $(printf '%s\n' "$paths" | grep -vc '/$') files, Depends: $depends"
exit $failed
