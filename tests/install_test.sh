#!/usr/bin/env bash
# Installs a build folder into a temporary prefix and checks what a user and a
# desktop get: both programs, running from anywhere; the desktop entry and the
# metainfo, valid; the icon in every size; the man pages, readable and naming
# every command and exit code.
#   tests/install_test.sh BUILD_DIR SOURCE_DIR WINDOWS(ON|OFF)
set -uo pipefail
build=$1
source=$2
windows=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/root
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    echo "FAIL: cmake --install" >&2
    exit 1
fi
app_id=org.quorvandel.Quorvandel

# The command-line program runs as installed: from another folder, with a plain
# environment, linked to nothing in the build folder.
cli=$prefix/bin/quorvandel-cli
version_line=$(cd / && env -i PATH=/usr/bin:/bin "$cli" --version)
[[ $version_line =~ ^quorvandel-cli\ \(Quorvandel\)\ ([0-9][0-9.]*)$ ]] ||
    fail "installed quorvandel-cli --version printed '$version_line'"
version=${BASH_REMATCH[1]:-}
programs=("$cli")
[ "$windows" = ON ] && programs+=("$prefix/bin/quorvandel")
for program in "${programs[@]}"; do
    [ -x "$program" ] || { fail "$program is not installed"; continue; }
    if readelf -d "$program" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
        fail "$program looks for libraries in the build folder"
    fi
done

# Man pages: compressed, formatted without warnings, every command of the usage
# text and every exit code described.
man_pages=(quorvandel-cli)
[ "$windows" = ON ] && man_pages+=(quorvandel)
for page in "${man_pages[@]}"; do
    file=$prefix/share/man/man1/$page.1.gz
    if ! gzip -t "$file" 2>/dev/null; then
        fail "$page.1.gz is missing or not gzip"
        continue
    fi
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 "$file" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man $page: $warnings"
    grep -q "Quorvandel $version" <(zcat "$file") || fail "man $page does not name version $version"
done
cli_page=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$prefix/share/man/man1/quorvandel-cli.1.gz" 2>/dev/null)
commands=$("$cli" --help | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p')
[ -n "$commands" ] || fail "quorvandel-cli --help names no commands"
for command in $commands; do
    grep -qE "^       $command( |$)" <<<"$cli_page" || fail "man quorvandel-cli does not describe $command"
done
for option in $("$cli" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "$option" <<<"$cli_page" || fail "man quorvandel-cli does not mention $option"
done
for code in 0 1 2 130 143 129; do
    grep -qE "(^| )$code( |$)" <<<"$(sed -n '/^EXIT STATUS/,/^[A-Z]/p' <<<"$cli_page")" ||
        fail "man quorvandel-cli does not document exit code $code"
done

# Built with Debian's hardening: PIE, stack-protected, fortified, full relro, stack
# clash protection. Control-flow protection is compiled in, but Debian 12's C
# library start files (Scrt1.o, crti.o, crtn.o) carry no IBT/SHSTK property, so
# the linker can mark no program of that release as protected.
# A sanitizer build is not fortified (_FORTIFY_SOURCE does not go with -O0 and the
# sanitizers' own checks): it is checked for the rest of the install only.
if ! grep -q '^QV_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
    for program in "${programs[@]}"; do
        hardening-check --nocfprotection "$program" >"$work/hardening.log" 2>&1 ||
            { cat "$work/hardening.log" >&2; fail "hardening-check $(basename "$program")"; }
    done
fi

# The licence, machine-readable where Debian looks for it.
copyright=$prefix/share/doc/quorvandel/copyright
grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$copyright" &&
    grep -qx 'License: GPL-3+' "$copyright" || fail "the copyright file names no GPL-3+ licence"

if [ "$windows" = ON ]; then
    # The desktop entry: valid, starting the installed program with the files chosen.
    desktop=$prefix/share/applications/$app_id.desktop
    desktop-file-validate "$desktop" || fail "desktop-file-validate $app_id.desktop"
    for line in 'Exec=quorvandel %F' 'Icon=quorvandel' 'MimeType=video/x-msvideo;video/dv;video/quicktime;' \
                'Categories=AudioVideo;Video;'; do
        grep -qxF "$line" "$desktop" || fail "$app_id.desktop has no line $line"
    done

    # The metainfo: valid, for this desktop entry and version, showing the README's
    # screenshots.
    metainfo=$prefix/share/metainfo/$app_id.metainfo.xml
    appstreamcli validate --no-net "$metainfo" >"$work/validate.log" 2>&1 ||
        { cat "$work/validate.log" >&2; fail "appstreamcli validate $app_id.metainfo.xml"; }
    grep -qF "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
        fail "the metainfo does not launch $app_id.desktop"
    grep -qF "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"
    grep -qF "<project_license>GPL-3.0-or-later</project_license>" "$metainfo" ||
        fail "the metainfo names no project licence"
    for shot in "$source"/docs/screenshots/*.png; do
        grep -qE "<image>[^<]*/$(basename "$shot")</image>" "$metainfo" ||
            fail "the metainfo does not show $(basename "$shot")"
    done

    # The icon the desktop entry names, as a drawing and in each size.
    icons=$prefix/share/icons/hicolor
    grep -q '<svg' "$icons/scalable/apps/quorvandel.svg" 2>/dev/null || fail "no scalable icon"
    for size in 16 22 24 32 48 64 128 256; do
        png=$icons/${size}x${size}/apps/quorvandel.png
        file -b "$png" 2>/dev/null | grep -q "^PNG image data, $size x $size," ||
            fail "no ${size}x${size} PNG icon"
    done
fi

if ((failures)); then
    echo "$failures failures" >&2
    exit 1
fi
echo "installed and checked: $(cd "$prefix" && find . -type f | sort | tr '\n' ' ')"
