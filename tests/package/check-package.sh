#!/usr/bin/env bash
# What a technician's PC receives, checked from the outside.
#   check-package.sh install   the tree `cmake --install` lays out under DESTDIR
#   check-package.sh deb       the Debian package cpack builds, unpacked
# Environment (set by ctest): TARVEN_CMAKE, TARVEN_CPACK, TARVEN_BUILD_DIR, TARVEN_SOURCE_DIR,
# TARVEN_VERSION, TARVEN_WITH_UI (1 when the window program is built),
# TARVEN_SANITIZED (1 when the programs link a sanitizer runtime).
set -uo pipefail

stage=${1:?stage: install or deb}
build=${TARVEN_BUILD_DIR:?}
src=${TARVEN_SOURCE_DIR:?}
version=${TARVEN_VERSION:?}
with_ui=${TARVEN_WITH_UI:?}
sanitized=${TARVEN_SANITIZED:-0}
cmake=${TARVEN_CMAKE:-cmake}
cpack=${TARVEN_CPACK:-cpack}

# ctest runs tests side by side: every run gets its own scratch directory.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarven-package-$stage.XXXXXX") || exit 1
cleanup() {
    [ -n "${sim_pid:-}" ] && kill "$sim_pid" 2>/dev/null
    [ -n "${ui_pid:-}" ] && kill "$ui_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
die() {
    echo "FAIL: $*" >&2
    exit 1
}

# The icon's size as `file` reads it, independent of the build's own reading.
icon_size=$(file -b "$src/resources/AppIcon.png" | sed -n 's/^PNG image data, \([0-9]*\) x \([0-9]*\),.*/\1x\2/p')
[ -n "$icon_size" ] || die "cannot read the size of resources/AppIcon.png"

expected_files() {
    echo usr/bin/tarven-link
    echo usr/bin/tarven-receiver-sim
    echo usr/share/doc/tarven-updater/README.md
    echo usr/share/man/man1/tarven-link.1.gz
    echo usr/share/doc/tarven-updater/tarven-link-report.schema.json
    echo usr/share/bash-completion/completions/tarven-link
    if [ "$with_ui" = 1 ]; then
        echo usr/bin/tarven-updater
        echo usr/share/applications/tarven-updater.desktop
        echo "usr/share/icons/hicolor/$icon_size/apps/tarven-updater.png"
    fi
}

# Exactly the expected files: a test program or a stray build file in the
# package would land on every bench PC.
check_file_list() {  # check_file_list WHAT ACTUAL_LIST_FILE
    local what=$1 actual=$2
    if ! diff -u <(expected_files | sort) <(sort "$actual") >"$scratch/list.diff"; then
        fail "$what does not hold exactly the expected files (- expected, + found):"
        cat "$scratch/list.diff" >&2
    fi
}

check_link_help() {  # check_link_help ROOT
    local out=$scratch/help.out
    if ! "$1/usr/bin/tarven-link" --help >"$out" 2>&1; then
        fail "installed tarven-link --help did not exit with 0"
        cat "$out" >&2
        return
    fi
    grep -q '^  upload ' "$out" || fail "tarven-link --help does not describe upload"
    grep -q '^  readback ' "$out" || fail "tarven-link --help does not describe readback"
}

# Every command and option the program announces must be in its manual page,
# so a new option cannot ship undocumented.
check_manual() {  # check_manual ROOT
    local page=$1/usr/share/man/man1/tarven-link.1.gz
    [ -f "$page" ] || { fail "manual page missing"; return; }
    gzip -t "$page" || { fail "manual page is not valid gzip"; return; }
    zcat "$page" >"$scratch/tarven-link.1"
    if grep -n '@[A-Z_]*@' "$scratch/tarven-link.1" >&2; then
        fail "manual page has placeholders the build did not fill in"
    fi
    grep -q "^\.TH TARVEN-LINK 1 .*\"tarven-updater $version\"" "$scratch/tarven-link.1" ||
        fail "manual page header does not carry version $version"
    if command -v groff >/dev/null; then
        groff -ww -z -man "$scratch/tarven-link.1" >"$scratch/groff.out" 2>&1
        if [ -s "$scratch/groff.out" ]; then
            fail "groff warns about the manual page:"
            cat "$scratch/groff.out" >&2
        fi
    fi
    command -v man >/dev/null || { echo "man not installed: manual page contents not checked"; return; }
    LC_ALL=C MANWIDTH=1000 man -l "$page" >"$scratch/man.txt" 2>"$scratch/man.err" ||
        fail "man -l cannot render the manual page"
    [ -s "$scratch/man.err" ] && { fail "man -l complains:"; cat "$scratch/man.err" >&2; }
    local help=$scratch/help.out word
    local commands options
    commands=$(sed -n '/^Commands:/,/^$/p' "$help" | awk '/^  [a-z]/ {print $1}')
    options=$(grep -o -- '--[a-z][a-z-]*' "$help" | sort -u)
    [ -n "$commands" ] && [ -n "$options" ] || { fail "cannot read commands and options from --help"; return; }
    for word in $commands $options; do
        grep -q -- "$word" "$scratch/man.txt" || fail "manual page does not mention $word"
    done
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS' ENVIRONMENT FILES EXAMPLES 'SEE ALSO'; do
        grep -q "^$section\$" "$scratch/man.txt" || fail "manual page has no $section section"
    done
    for code in 0 1 2 3 4 130; do
        sed -n '/^EXIT STATUS$/,/^ENVIRONMENT$/p' "$scratch/man.txt" | grep -q "^       $code  " ||
            fail "manual page does not explain exit status $code"
    done
    for word in TARVEN_COM1 TARVEN_COM6 ttyUSB ttyACM ttyS; do
        sed -n '/^ENVIRONMENT$/,/^FILES$/p' "$scratch/man.txt" | grep -q "$word" ||
            fail "manual page does not explain $word under ENVIRONMENT"
    done
}

# Installed programs must find their libraries where the system keeps them,
# never through a path into the build tree.
check_no_rpath() {  # check_no_rpath ROOT
    command -v readelf >/dev/null || return 0
    local program
    for program in "$1"/usr/bin/*; do
        if readelf -d "$program" | grep -E 'R(UN)?PATH'; then
            fail "$(basename "$program") carries a library search path"
        fi
    done
}

check_desktop_entry() {  # check_desktop_entry ROOT
    local entry=$1/usr/share/applications/tarven-updater.desktop
    [ -f "$entry" ] || { fail "desktop entry missing"; return; }
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$entry" >"$scratch/validate.out" 2>&1 ||
            { fail "desktop-file-validate rejects the entry:"; cat "$scratch/validate.out" >&2; }
    else
        echo "desktop-file-validate not installed: entry checked by its keys only"
    fi
    local exec icon
    exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [ -x "$1/usr/bin/$exec" ] || fail "desktop entry starts '$exec', which is not an installed program"
    local png=$1/usr/share/icons/hicolor/$icon_size/apps/$icon.png
    [ -f "$png" ] || fail "desktop entry names icon '$icon', not installed at hicolor/$icon_size"
    grep -qx 'Name=TARVEN Updater' "$entry" || fail "desktop entry has the wrong Name"
    grep -qx 'Terminal=false' "$entry" || fail "desktop entry does not say Terminal=false"
    grep -qx 'Categories=Utility;Electronics;' "$entry" || fail "desktop entry has the wrong Categories"
    # The directory name is what an icon theme believes about the size.
    local real
    real=$(file -b "$png" | sed -n 's/^PNG image data, \([0-9]*\) x \([0-9]*\),.*/\1x\2/p')
    [ "$real" = "$icon_size" ] || fail "icon under hicolor/$icon_size is really '$real'"
}

# The window program must come up with the libraries and plugins of the
# system (LD_LIBRARY_PATH as the caller has it) and stay up.
check_updater_starts() {  # check_updater_starts ROOT
    mkdir -m 700 "$scratch/run"
    QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$scratch/run TARVEN_COM1=$scratch/no-such-device \
        "$1/usr/bin/tarven-updater" >"$scratch/updater.log" 2>&1 &
    ui_pid=$!
    sleep 1.5
    if ! kill -0 "$ui_pid" 2>/dev/null; then
        wait "$ui_pid"
        fail "installed tarven-updater ended within 1.5 s (exit status $?):"
        cat "$scratch/updater.log" >&2
    else
        kill "$ui_pid"
        wait "$ui_pid" 2>/dev/null
    fi
    ui_pid=
}

# The installed command-line tool against the installed simulator: a full
# version exchange over a pseudo-terminal.
check_link_talks_to_sim() {  # check_link_talks_to_sim ROOT
    "$1/usr/bin/tarven-receiver-sim" --hardware PKG-HW --software PKG-SW >"$scratch/sim.out" 2>&1 &
    sim_pid=$!
    local device=""
    for _ in $(seq 50); do
        device=$(head -n 1 "$scratch/sim.out" 2>/dev/null)
        [ -n "$device" ] && break
        sleep 0.1
    done
    if [ -z "$device" ] || [ ! -e "$device" ]; then
        fail "installed tarven-receiver-sim did not announce its device"
    else
        "$1/usr/bin/tarven-link" --device "$device" --timeout 10 version >"$scratch/version.out" 2>&1 ||
            fail "installed tarven-link version against the simulator failed (exit status $?)"
        grep -qx 'Hardware version: PKG-HW' "$scratch/version.out" &&
            grep -qx 'Software version: PKG-SW' "$scratch/version.out" ||
            { fail "unexpected version answer:"; cat "$scratch/version.out" >&2; }
    fi
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=
}

# The completion file, loaded as bash-completion would, must offer the
# commands, the kinds --help names and the ports the installed program lists.
check_completion() {  # check_completion ROOT
    local file=$1/usr/share/bash-completion/completions/tarven-link
    [ -f "$file" ] || { fail "bash completion missing"; return; }
    bash -n "$file" || { fail "bash completion has a syntax error"; return; }
    complete_words() {  # complete_words WORD... (the last one is completed)
        TARVEN_COM1=/dev/null TARVEN_COM3=/dev/null bash -c '
            source "$1"; shift
            COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
            _tarven_link; printf "%s\n" "${COMPREPLY[@]}"' _ "$file" "$@" | sort | tr '\n' ' '
    }
    local kinds want got
    kinds=$(sed -n '/^KIND:/,/^PASSWORD:/p' "$scratch/help.out" | grep -o '[a-z]* ([0-9]*)' | tr -d '()' | tr ' ' '\n' |
        sort | tr '\n' ' ')
    got=$(complete_words "$1/usr/bin/tarven-link" upload --kind "")
    [ -n "$kinds" ] && [ "$got" = "$kinds" ] || fail "completion offers kinds '$got', --help names '$kinds'"
    want=$(sed -n '/^Commands:/,/^$/p' "$scratch/help.out" | awk '/^  [a-z]/ {print $1}' | sort | tr '\n' ' ')
    got=$(complete_words "$1/usr/bin/tarven-link" "")
    [ "$got" = "$want" ] || fail "completion offers commands '$got', --help names '$want'"
    got=$(complete_words "$1/usr/bin/tarven-link" --port "")
    [ "$got" = "COM1 COM2 COM3 COM4 COM5 COM6 " ] || fail "completion offers ports '$got'"
    got=$(complete_words "$1/usr/bin/tarven-link" upload --kind fdd --re)
    [ "$got" = "--read-versions --report " ] || fail "completion of upload --re offers '$got'"
}

check_root() {  # check_root ROOT WHAT
    local root=$1 what=$2
    (cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||') >"$scratch/found.txt"
    check_file_list "$what" "$scratch/found.txt"
    check_link_help "$root"
    check_manual "$root"
    check_completion "$root"
    check_no_rpath "$root"
    check_link_talks_to_sim "$root"
    if [ "$with_ui" = 1 ]; then
        check_desktop_entry "$root"
        check_updater_starts "$root"
    fi
}

check_depends() {  # check_depends DEB
    local depends name
    depends=$(dpkg-deb -f "$1" Depends)
    echo "Depends: $depends"
    local allowed=' libc6 libgcc-s1 libstdc++6 '
    [ "$with_ui" = 1 ] && allowed+='libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins '
    local names
    names=$(echo "$depends" | tr ',|' '\n\n' | sed 's/([^)]*)//; s/:any//; s/^ *//; s/ *$//' | grep -v '^$' | sort -u)
    for name in $names; do
        if ! dpkg-query -W "$name" >/dev/null 2>&1 && ! apt-cache show "$name" >/dev/null 2>&1; then
            fail "Depends names '$name', which is not a Debian package"
        elif [[ "$allowed" != *" $name "* ]] &&
            ! { [ "$sanitized" = 1 ] && [[ "$name" =~ ^lib(asan|ubsan|tsan|lsan)[0-9]+$ ]]; }; then
            fail "Depends names '$name', which the programs do not need"
        fi
    done
    local needed=libc6
    [ "$with_ui" = 1 ] && needed+=' libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins'
    for name in $needed; do
        grep -qx "$name" <<<"$names" || fail "Depends lacks $name"
    done
}

case $stage in
install)
    root=$scratch/root
    DESTDIR=$root "$cmake" --install "$build" --prefix /usr >"$scratch/install.log" 2>&1 ||
        { cat "$scratch/install.log" >&2; die "cmake --install failed"; }
    check_root "$root" "the installed tree"
    ;;
deb)
    (cd "$build" && "$cpack" -G DEB -B "$scratch/out") >"$scratch/cpack.log" 2>&1 ||
        { cat "$scratch/cpack.log" >&2; die "cpack -G DEB failed"; }
    debs=("$scratch"/out/*.deb)
    [ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || die "cpack made ${#debs[@]} packages: ${debs[*]}"
    deb=${debs[0]}
    arch=$(dpkg --print-architecture)
    [ "$(basename "$deb")" = "tarven-updater_${version}_$arch.deb" ] || fail "unexpected package file name $(basename "$deb")"
    ls -l "$deb"

    [ "$(dpkg-deb -f "$deb" Package)" = tarven-updater ] || fail "package name is not tarven-updater"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "package architecture is not $arch"
    [ "$(dpkg-deb -f "$deb" Section)" = electronics ] || fail "package section is not electronics"
    [ "$(dpkg-deb -f "$deb" Maintainer)" = 'TARVEN service tools <tools@tarven.invalid>' ] ||
        fail "unexpected maintainer: $(dpkg-deb -f "$deb" Maintainer)"
    dpkg-deb -f "$deb" Description >"$scratch/description.txt"
    [ "$(wc -l <"$scratch/description.txt")" -ge 2 ] || fail "package has no long description"
    awk 'length > 79 {print; bad = 1} END {exit bad}' "$scratch/description.txt" >&2 ||
        fail "package description has lines longer than 79 columns"
    check_depends "$deb"

    dpkg-deb -c "$deb" >"$scratch/contents.txt" || die "dpkg-deb -c cannot list the package"
    awk '$1 ~ /^-/ {sub(/^\.\//, "", $6); print $6}' "$scratch/contents.txt" >"$scratch/listed.txt"
    check_file_list "the package" "$scratch/listed.txt"
    awk '$2 != "root/root" {print}' "$scratch/contents.txt" >"$scratch/owners.txt"
    [ -s "$scratch/owners.txt" ] && { fail "entries not owned by root:"; cat "$scratch/owners.txt" >&2; }

    root=$scratch/root
    dpkg -x "$deb" "$root" || die "dpkg -x cannot unpack the package"
    for program in "$root"/usr/bin/*; do
        file -b "$program" | grep -q ', stripped' || fail "$(basename "$program") is not stripped in the package"
    done
    check_root "$root" "the unpacked package"
    ;;
*)
    die "unknown stage '$stage'"
    ;;
esac

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all checks passed"
