#!/usr/bin/env bash
# Installs a finished build into a scratch prefix and uses the tree as other
# programs do: a C11 program built with pkg-config downloads a file from the
# loopback FTP server through the engine's interface, a C++ program reads the
# control's version, the shared library exports nothing but what the installed
# headers mark with FT_API, every installed header compiles, the man page
# renders without warnings and the bash completion parses. The installed
# command line registers the library in a scratch user registry, and a C
# program that knows only the registry creates the control by its ProgID and
# downloads a file through it; unregistering takes every key away again.
# Usage: install_test.sh BUILD_DIR. Exit 77 (skipped) without the test servers,
# unless CI=true.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ft-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for path in bin/filetransfer lib/pkgconfig/filetransfer.pc share/man/man1/filetransfer.1 \
    share/bash-completion/completions/filetransfer include/filetransfer/ftp/ftp.h; do
    [ -e "$prefix/$path" ] || fail "$path was not installed"
done
library=$(readlink -f "$prefix"/lib/libfiletransfer.so)
soname=$(objdump -p "$library" | awk '$1 == "SONAME" { print $2 }')
[ -e "$prefix/lib/$soname" ] || fail "no $soname beside the library"

# Exports: exactly the names that the installed headers declare with FT_API.
grep -rhE '^[^#]*FT_API[^(]*\(' "$prefix/include/filetransfer" |
    sed -E 's/^([^(]*[^A-Za-z0-9_(])?([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*\(.*$/\2/' | sort -u \
    >"$scratch/declared"
nm -D --defined-only -C "$library" | cut -d' ' -f3- | sed -E 's/\(.*$//; s/\[abi:[a-z0-9]*\]//' |
    sort -u >"$scratch/exported"
strays=$(comm -13 "$scratch/declared" "$scratch/exported")
[ -z "$strays" ] || fail "exported beyond the public interface: $(echo $strays)"
missing=$(comm -23 "$scratch/declared" "$scratch/exported")
[ -z "$missing" ] || fail "declared but not exported: $(echo $missing)"

# Headers: the engines' compile alone as C11, all of them together as C++20.
cflags=(-Wall -Wextra -Werror -I"$prefix/include/filetransfer")
cxx_all=$scratch/all.cpp
: >"$cxx_all"
(cd "$prefix/include/filetransfer" && find . -name '*.h' | sort) | while read -r header; do
    header=${header#./}
    echo "#include <$header>" >>"$cxx_all"
    case $header in
        platform/com.h | platform/api.h) ;;
        platform/* | control/*) continue ;;
    esac
    echo "#include <$header>" | cc -std=c11 -pedantic "${cflags[@]}" -fsyntax-only -x c - ||
        fail "$header does not compile as C11"
done
c++ -std=c++20 "${cflags[@]}" -fsyntax-only "$cxx_all" || fail "the headers do not compile as C++"

# Programs built from the pkg-config file, run against the installed library.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
read -ra pc_flags <<<"$(pkg-config --cflags --libs filetransfer)"
cc -std=c11 -pedantic -Wall -Wextra -Werror "$here/download.c" "${pc_flags[@]}" -o "$scratch/download"
c++ -std=c++20 -Wall -Wextra -Werror "$here/control.cpp" "${pc_flags[@]}" -o "$scratch/control"
export LD_LIBRARY_PATH=$prefix/lib
libraries=$(ldd "$scratch/download")  # whole, so that no early grep exit fails the pipe
grep -q "$prefix/lib/$soname" <<<"$libraries" || fail "download does not load $soname"
version=$("$scratch/control") || fail "the control program failed"
[ "$version" = "$("$prefix/bin/filetransfer" version)" ] || fail "control version '$version'"

# Registration into a scratch user registry: exactly the script's keys, with
# the installed library's full path; unregistering leaves only "CLSID",
# "Interface" and "TypeLib" themselves.
cc -std=c11 -pedantic -Wall -Wextra -Werror "$here/create.c" "${pc_flags[@]}" -o "$scratch/create"
export XDG_DATA_HOME=$scratch/data
registry=$XDG_DATA_HOME/tollane/registry
"$prefix/bin/filetransfer" register --user >/dev/null || fail "register --user failed"
clsid=$(awk '/^\[Software\\Classes\\Tollane\.FileTransfer\\CLSID\]$/ { getline; print }' \
    "$registry" | sed -E 's/^@="(.*)"$/\1/')
key="Software\\Classes\\CLSID\\$clsid"
registered=$(cd "$prefix/lib" && pwd -P)/$soname  # the soname link, as the loader names it
typelib='Software\Classes\TypeLib\{52F93070-00BF-4956-82C6-DC613B6DFC2E}'
expected=$(cat <<KEYS
; tollane registry 1
[Software]
[Software\Classes]
[Software\Classes\CLSID]
[$key]
@="Tollane File Transfer Control 7.2"
[$key\Control]
[$key\InprocServer32]
@="$registered"
"ThreadingModel"="Apartment"
[$key\Insertable]
[$key\MiscStatus]
@="0"
[$key\MiscStatus\1]
@="132497"
[$key\ProgID]
@="Tollane.FileTransfer.7"
[$key\Programmable]
[$key\ToolboxBitmap32]
@="$registered, 202"
[$key\TypeLib]
@="{52F93070-00BF-4956-82C6-DC613B6DFC2E}"
[$key\Version]
@="1.0"
[$key\VersionIndependentProgID]
@="Tollane.FileTransfer"
[Software\Classes\Interface]
[Software\Classes\Interface\{1ECD3DBF-A66A-4EB3-B588-39BC53E494A8}]
@="IFileTransfer"
[Software\Classes\Interface\{1ECD3DBF-A66A-4EB3-B588-39BC53E494A8}\TypeLib]
@="{52F93070-00BF-4956-82C6-DC613B6DFC2E}"
"Version"="1.0"
[Software\Classes\Interface\{58D6D9B4-FE61-46EA-A2F7-6AED60A74A42}]
@="_IFileTransferEvents"
[Software\Classes\Interface\{58D6D9B4-FE61-46EA-A2F7-6AED60A74A42}\TypeLib]
@="{52F93070-00BF-4956-82C6-DC613B6DFC2E}"
"Version"="1.0"
[Software\Classes\Tollane.FileTransfer]
@="Tollane File Transfer Control 7.2"
[Software\Classes\Tollane.FileTransfer\CLSID]
@="$clsid"
[Software\Classes\Tollane.FileTransfer\CurVer]
@="Tollane.FileTransfer.7"
[Software\Classes\Tollane.FileTransfer.7]
@="Tollane File Transfer Control 7.2"
[Software\Classes\Tollane.FileTransfer.7\CLSID]
@="$clsid"
[Software\Classes\TypeLib]
[$typelib]
[$typelib\1.0]
@="Tollane File Transfer Control 7.2"
[$typelib\1.0\0]
[$typelib\1.0\0\linux]
@="$registered"
[$typelib\1.0\FLAGS]
@="0"
[$typelib\1.0\HELPDIR]
@="${registered%/*}/"
KEYS
)
diff <(echo "$expected") "$registry" >&2 || fail "the registered keys differ (above)"
"$prefix/bin/filetransfer" unregister --user >/dev/null || fail "unregister --user failed"
printf '; tollane registry 1\n[Software]\n[Software\\Classes]\n[Software\\Classes\\CLSID]\n[Software\\Classes\\Interface]\n[Software\\Classes\\TypeLib]\n' |
    diff - "$registry" >&2 || fail "unregistering left keys behind (above)"
"$scratch/create" --absent Tollane.FileTransfer "$clsid" || fail "an unregistered class was created"
"$prefix/bin/filetransfer" register --user >/dev/null || fail "register --user failed again"

# The man page renders without warnings; the completion is valid bash.
page=$prefix/share/man/man1/filetransfer.1
if command -v man >/dev/null; then
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    text=$(MANWIDTH=80 man -l "$page" 2>/dev/null)
else
    warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
    text=$(groff -man -Tutf8 -P-cbou "$page" 2>/dev/null)
fi
[ -z "$warnings" ] || fail "man page warnings: $warnings"
for section in SYNOPSIS COMMANDS OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
    grep -q "^$section" <<<"$text" || fail "the man page has no $section"
done
bash -n "$prefix/share/bash-completion/completions/filetransfer" || fail "completion"

# A download from the loopback FTP server (the fixture hello.txt).
if [ -z "${FT_TEST_HOST:-}" ] || [ -z "${FT_TEST_FTP_PORT:-}" ]; then
    [ "${CI:-}" = "true" ] && fail "the test servers are not configured, and CI skips nothing"
    echo "install test: test servers not configured: the download is skipped"
    exit 77
fi
"$scratch/download" "$FT_TEST_HOST" "$FT_TEST_FTP_PORT" "$FT_TEST_ANON_USER" \
    "$FT_TEST_ANON_PASSWORD" hello.txt "$scratch/hello.txt" || fail "the download failed"
[ "$(cat "$scratch/hello.txt")" = "Hello, world!" ] && [ "$(wc -c <"$scratch/hello.txt")" -eq 14 ] ||
    fail "hello.txt arrived as '$(cat "$scratch/hello.txt")'"
# The same file through the control that the registry names, made by ProgID.
"$scratch/create" Tollane.FileTransfer "$registered" "$FT_TEST_HOST" "$FT_TEST_FTP_PORT" \
    "$FT_TEST_ANON_USER" "$FT_TEST_ANON_PASSWORD" hello.txt "$scratch/created.txt" ||
    fail "creation by ProgID and the download through it failed"
cmp -s "$scratch/hello.txt" "$scratch/created.txt" || fail "created.txt differs from hello.txt"
echo "install test: passed"
