#!/bin/sh
# The manual pages render without warnings, and the install rules put the
# three programs in bin, their pages, compressed with gzip -9n, in
# share/man/man1 and their bash completion in
# share/bash-completion/completions, nothing else.  Where dpkg-deb and
# dpkg-dev are, the Debian package (of a cross build too) is made and
# looked into, and checked by lintian when that is here; where rpmbuild is,
# the RPM of a native build likewise, checked by rpmlint when that is here.
# Of a static build, cpack makes neither package and says why.
#
# Usage: install_test.sh SOURCE_DIR BUILD_DIR REVISION HARDENED STATIC
#   REVISION is the one the program zorvat was built as: 1.7 or 1.9.
#   HARDENED is ON when the programs were built with the hardening flags
#   (then lintian must not find them missing), else OFF.
#   STATIC is ON when the programs were linked statically, else OFF.
# ZORVAT_SHIP_EMULATOR, when set, runs the built programs (a cross build).
# Exit status 77: groff is missing, so nothing was tested.
set -u

src=$1
build=$2
rev=$3
hardened=$4
static=$5
pages="zorvat2 zorvat3 zorvat"
sections="NAME SYNOPSIS DESCRIPTION OPTIONS OPERANDS EXIT.STATUS EXAMPLES NOTES SEE.ALSO"

if ! command -v groff >/dev/null 2>&1; then
    echo "SKIP: groff is not installed"
    exit 77
fi

failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zorvat-ship.XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT

# Rendering: no warning of any kind, and every usual section present.
for p in $pages; do
    page=$src/man/$p.1
    if [ ! -f "$page" ]; then
        fail "$page is missing"
        continue
    fi
    warnings=$(groff -man -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "groff warns about $p.1: $warnings"
    if command -v man >/dev/null 2>&1; then
        warnings=$(MANWIDTH=80 man --warnings=w -l "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "man warns about $p.1: $warnings"
    fi
    # grotty marks bold and underlined text with overstrikes (groff 1.22)
    # or with SGR escape sequences (groff 1.23): either is taken away.
    text=$(groff -man -Tascii -ww "$page" 2>/dev/null | sed 's/.\x08//g; s/\x1b\[[0-9;]*m//g')
    for s in $sections; do
        printf '%s\n' "$text" | grep -q "^$s\$" || fail "$p.1 has no section $s"
    done
    printf '%s\n' "$text" | grep -q "^ *$p  *- " || fail "$p.1 has no NAME line for $p"
done

# Installation into a fresh prefix.
prefix=$tmp/prefix
if ! cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1; then
    cat "$tmp/install.log"
    fail "cmake --install failed"
fi
expected="bin/zorvat
bin/zorvat2
bin/zorvat3
share/bash-completion/completions/zorvat
share/bash-completion/completions/zorvat2
share/bash-completion/completions/zorvat3
share/man/man1/zorvat.1.gz
share/man/man1/zorvat2.1.gz
share/man/man1/zorvat3.1.gz"
got=$(cd "$prefix" 2>/dev/null && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
[ "$got" = "$expected" ] || fail "installed files differ:
--- expected
$expected
--- installed
$got"
for p in $pages; do
    [ -x "$prefix/bin/$p" ] || fail "bin/$p is not executable"
    gzip -9nc "$src/man/$p.1" | cmp -s - "$prefix/share/man/man1/$p.1.gz" ||
        fail "share/man/man1/$p.1.gz is not man/$p.1 compressed by gzip -9n"
done
completions=$prefix/share/bash-completion/completions
cmp -s "$src/packaging/zorvat.bash-completion" "$completions/zorvat" ||
    fail "the completion installed is not packaging/zorvat.bash-completion"
for p in zorvat2 zorvat3; do
    [ "$(readlink "$completions/$p")" = zorvat ] || fail "the completion of $p is not a link to zorvat"
done

# The installed programs are the revisions their names promise.
run() {
    # shellcheck disable=SC2086 # the emulator may bring its own arguments
    ${ZORVAT_SHIP_EMULATOR:-} "$@"
}
for pv in zorvat2:2.0 zorvat3:3.0 zorvat:$rev; do
    p=${pv%%:*}
    v=${pv#*:}
    [ -x "$prefix/bin/$p" ] || continue
    out=$(run "$prefix/bin/$p" 2>&1 >/dev/null)
    status=$?
    [ $status -eq 1 ] || fail "$p without arguments exits $status, not 1"
    printf '%s\n' "$out" | head -n 1 | grep -q " (kov) v\.$v\$" || fail "$p is not revision $v: $out"
done
if [ -x "$prefix/bin/zorvat3" ]; then
    out=$(run "$prefix/bin/zorvat3" lo 1 1)
    status=$?
    [ $status -eq 0 ] || fail "zorvat3 lo 1 1 exits $status"
    printf '%s\n' "$out" | grep -q '^Name  *IBytes/s' || fail "zorvat3 lo 1 1 printed no header: $out"
    printf '%s\n' "$out" | grep -q '^lo  ' || fail "zorvat3 lo 1 1 printed no line for lo: $out"
fi

# Linked as the build said: a static program asks for no loader.
if command -v readelf >/dev/null 2>&1; then
    for p in $pages; do
        [ -f "$prefix/bin/$p" ] || continue
        if readelf -lW "$prefix/bin/$p" | grep -q 'Requesting program interpreter'; then
            [ "$static" = OFF ] || fail "bin/$p of a static build asks for a loader"
        else
            [ "$static" = ON ] || fail "bin/$p asks for no loader, as if linked statically"
        fi
    done
fi

# A static build: cpack refuses to make either package, saying why.
if [ "$static" = ON ] && [ -f "$build/CPackConfig.cmake" ]; then
    for kind in DEB RPM; do
        if (cd "$tmp" && cpack -G $kind --config "$build/CPackConfig.cmake" -B "$tmp/$kind") >"$tmp/cpack.log" 2>&1; then
            fail "cpack -G $kind packaged the programs of a static build"
        elif ! grep -q 'dynamically linked programs only' "$tmp/cpack.log"; then
            cat "$tmp/cpack.log"
            fail "cpack -G $kind failed on a static build without saying that it packages dynamic programs only"
        fi
    done
    [ $failed -eq 0 ] || exit 1
    echo "pages render without warnings; install puts the files where they belong; no package of static programs"
    exit 0
fi

# The Debian package, where the tools to make and read one are here: of
# this machine's architecture, or of another in a cross build, where
# lintian checks that it is the programs' one.
if command -v dpkg-deb >/dev/null 2>&1 && command -v dpkg-shlibdeps >/dev/null 2>&1 &&
    [ -f "$build/CPackConfig.cmake" ]; then
    if ! (cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg") >"$tmp/cpack.log" 2>&1; then
        cat "$tmp/cpack.log"
        fail "cpack -G DEB failed"
    fi
    deb=
    for f in "$tmp"/pkg/zorvat_*.deb; do
        [ -f "$f" ] && deb=$f && break
    done
    if [ -z "$deb" ]; then
        fail "cpack made no zorvat_*.deb"
    else
        [ "$(dpkg-deb -f "$deb" Package)" = zorvat ] || fail "package name is not zorvat"
        [ "$(dpkg-deb -f "$deb" Section)" = net ] || fail "package section is not net"
        arch=$(dpkg-deb -f "$deb" Architecture)
        if [ -z "${ZORVAT_SHIP_EMULATOR:-}" ]; then
            [ "$arch" = "$(dpkg --print-architecture)" ] || fail "package architecture $arch is not this machine's"
        else
            case $arch in
            "" | "$(dpkg --print-architecture)") fail "the cross build's package architecture is '$arch'" ;;
            esac
        fi
        [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "package has no maintainer"
        dpkg-deb -f "$deb" Depends | grep -q libc6 || fail "package depends on no libc6"
        dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/zorvat/changelog.Debian.gz | gzip -dc |
            grep -q "zorvat (revision $rev)" || fail "the package's changelog does not name zorvat's revision $rev"
        files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||' | LC_ALL=C sort)
        want=$(printf '%s\n' "$expected" share/doc/zorvat/changelog.Debian.gz share/doc/zorvat/copyright \
            share/lintian/overrides/zorvat | sed 's|^|usr/|' | LC_ALL=C sort)
        [ "$files" = "$want" ] || fail "package files differ:
--- expected
$want
--- in the package
$files"
        # lintian: no error and no warning; in a hardened build, no sign
        # of missing hardening or of a strip short of a distribution's.
        if command -v lintian >/dev/null 2>&1; then
            tags=$(lintian --display-info "$deb" 2>&1)
            printf '%s\n' "$tags" | grep -q '^[EW]: ' && fail "lintian finds errors or warnings:
$tags"
            if [ "$hardened" = ON ]; then
                printf '%s\n' "$tags" | grep -Eq 'hardening-no-|binary-has-unneeded-section' &&
                    fail "lintian finds the programs short of hardening or stripping:
$tags"
            fi
        else
            echo "note: lintian is not installed: the package was not checked by it"
        fi
    fi
else
    echo "note: the Debian package was not checked (no dpkg-deb, dpkg-shlibdeps or CPack config)"
fi

# The RPM, of a native build, where rpmbuild is here.
if command -v rpmbuild >/dev/null 2>&1 && [ -f "$build/CPackConfig.cmake" ] && [ -z "${ZORVAT_SHIP_EMULATOR:-}" ]; then
    if ! (cd "$tmp" && cpack -G RPM --config "$build/CPackConfig.cmake" -B "$tmp/rpm") >"$tmp/cpack-rpm.log" 2>&1; then
        cat "$tmp/cpack-rpm.log"
        fail "cpack -G RPM failed"
    fi
    rpm=
    for f in "$tmp"/rpm/zorvat-*.rpm; do
        [ -f "$f" ] && rpm=$f && break
    done
    if [ -z "$rpm" ]; then
        fail "cpack made no zorvat-*.rpm"
    else
        [ "$(rpm -qp --qf '%{NAME} %{ARCH}' "$rpm")" = "zorvat $(uname -m)" ] ||
            fail "the RPM is not zorvat for $(uname -m): $(rpm -qp --qf '%{NAME} %{ARCH}' "$rpm")"
        rpm -qp --requires "$rpm" | grep -q '^libc\.so\.6' || fail "the RPM requires no libc.so.6"
        rpm -qp --changelog "$rpm" | grep -q "zorvat (revision $rev)" ||
            fail "the RPM's changelog does not name zorvat's revision $rev"
        # Its files, less the links to the programs by build id that
        # rpmbuild adds, and its licence file, marked as one.
        files=$(rpm -qp --qf '[%{FILEMODES:perms} %{FILENAMES}\n]' "$rpm" |
            awk '$1 !~ /^d/ && $2 !~ /^\/usr\/lib\/\.build-id\// { print substr($2, 2) }' | LC_ALL=C sort)
        want=$(printf '%s\n' "$expected" share/licenses/zorvat/copyright | sed 's|^|usr/|' | LC_ALL=C sort)
        [ "$files" = "$want" ] || fail "RPM files differ:
--- expected
$want
--- in the RPM
$files"
        [ "$(rpm -qpL "$rpm")" = /usr/share/licenses/zorvat/copyright ] || fail "the RPM marks no licence file"
        # rpmlint, with the settings of packaging/rpmlint.toml: no error and
        # no warning, but that the RPM is not signed (the distributor signs).
        if command -v rpmlint >/dev/null 2>&1; then
            tags=$(rpmlint -c "$src/packaging/rpmlint.toml" "$rpm" 2>&1)
            printf '%s\n' "$tags" | grep -q ' packages and .* checked' || fail "rpmlint did not check the RPM:
$tags"
            printf '%s\n' "$tags" | grep ': [EW]: ' | grep -qv ': E: no-signature$' && fail "rpmlint finds errors or warnings:
$tags"
        else
            echo "note: rpmlint is not installed: the RPM was not checked by it"
        fi
    fi
else
    echo "note: the RPM was not checked (no rpmbuild or CPack config, or a cross build)"
fi

if [ $failed -ne 0 ]; then
    exit 1
fi
echo "pages render without warnings; install and packages put the files where they belong"
exit 0
