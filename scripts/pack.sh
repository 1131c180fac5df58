#!/usr/bin/env bash
# Packs a tree into a package for CI: natively by default (tools/pack, no
# Wine, any host), or with the bare program itself under Wine.
#   scripts/pack.sh [--builder native|wine] [--method deflate|lzma] [--sign CERT KEY] [--timestamp URL]
#                   [--codepage N] SOURCE OUTPUT
# SOURCE holds setup/ (with setup/rEdizo.exe, and setup/LoaderIcon.ico for the
# package's icon) and optionally app/. OUTPUT is written only when everything
# succeeded.
#   --builder native  the native packer, built here in build/inspect (default)
#   --builder wine    the bare program in builder mode, in a scratch directory
#                     of its own with the project's Wine prefix (build/wineprefix,
#                     or WINEPREFIX when set); needs 32-bit Wine
#   --method lzma     archive A's entries as LZMA (ZIP method 14), a third
#                     smaller for executables; native packer only. deflate
#                     (the default) writes the builder's bytes
#   --sign CERT KEY   sign with osslsigncode (Authenticode, SHA-256, PEM
#                     certificate and key) and verify the signature
#   --timestamp URL   time-stamp the signature (off by default)
#   --codepage N      the ANSI code page names are stored in; by default 1252
#                     for ASCII names, otherwise the first of 936, 1252, 932,
#                     949, 950, 1251, 1250 that can name every file
# The program used is build/windows/source/bootstrap.exe, cross-built when
# needed (no Wine needed for that); BOOTSTRAP_EXE names another one.
# BOOTSTRAP_PACK_PREBUILT=1 uses the native packer in build/inspect as it is,
# without building it.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

die() {
    echo "pack.sh: $*" >&2
    exit 1
}
usage() {
    # The comment block at the top, without the code after it.
    awk 'NR > 1 && /^#/ {print; next} NR > 1 {exit}' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

cert="" key="" stamp="" codepage="" builder=native method=deflate
while [ $# -gt 0 ]; do
    case "$1" in
    --builder)
        [ $# -ge 2 ] || usage
        builder="$2"
        [ "$builder" = native ] || [ "$builder" = wine ] || usage
        shift 2
        ;;
    --method)
        [ $# -ge 2 ] || usage
        method="$2"
        [ "$method" = deflate ] || [ "$method" = lzma ] || usage
        shift 2
        ;;
    --sign)
        [ $# -ge 3 ] || usage
        cert="$2" key="$3"
        shift 3
        ;;
    --timestamp)
        [ $# -ge 2 ] || usage
        stamp="$2"
        shift 2
        ;;
    --codepage)
        [ $# -ge 2 ] || usage
        codepage="$2"
        shift 2
        ;;
    -h | --help) usage ;;
    --) shift; break ;;
    -*) echo "pack.sh: unknown option $1" >&2; usage ;;
    *) break ;;
    esac
done
[ $# -eq 2 ] || usage
source_dir="$1" output="$2"

# The builder in the program writes deflate only.
if [ "$method" = lzma ] && [ "$builder" = wine ]; then
    die "--method lzma needs the native packer: the program's builder writes deflate entries only"
fi

# The Windows builder is the shipped 32-bit program, which needs 32-bit Wine
# (scripts/host.sh). BOOTSTRAP_EXE runs the program it names under the Wine of
# the chosen path instead (the tests' builds). The native packer needs neither.
if [ "$builder" = wine ]; then
    # shellcheck source=scripts/host.sh
    source "$here/scripts/host.sh"
    host_choose pack.sh >&2 || exit 2
    if [ "$BOOTSTRAP_WINE_BITS" != 32 ] && [ -z "${BOOTSTRAP_EXE:-}" ]; then
        die "cannot pack here with --builder wine: the package is built by the 32-bit program under 32-bit Wine, and $BOOTSTRAP_WINE_REASON"
    fi
fi

[ -d "$source_dir/setup" ] || die "no setup tree: $source_dir/setup is not a directory"
[ -f "$source_dir/setup/rEdizo.exe" ] || die "no setup program: $source_dir/setup/rEdizo.exe is missing"
[ -f "$source_dir/setup/LoaderIcon.ico" ] ||
    echo "pack.sh: no setup/LoaderIcon.ico: the package keeps the program's own icon" >&2
if [ -n "$cert" ]; then
    [ -f "$cert" ] || die "certificate $cert not found"
    [ -f "$key" ] || die "key $key not found"
    command -v osslsigncode >/dev/null || die "osslsigncode is missing: run scripts/install.sh"
fi
outdir="$(dirname "$output")"
[ -d "$outdir" ] || die "the directory of $output does not exist"
[ ! -d "$output" ] || die "$output is a directory"

# Code pages: the locale Wine runs under for each (its language sets the ANSI
# code page; a UTF-8 locale keeps the copied names as they are, a legacy one
# needs them in its own charset) and the charset that tells whether a name
# fits.
declare -A charset=([1252]=CP1252 [936]=CP936 [932]=CP932 [949]=CP949 [950]=CP950 [1251]=CP1251 [1250]=CP1250)
declare -A utf8locale=([1252]=C.UTF-8 [936]=zh_CN.UTF-8 [932]=ja_JP.UTF-8 [949]=ko_KR.UTF-8 [950]=zh_TW.UTF-8
    [1251]=ru_RU.UTF-8 [1250]=pl_PL.UTF-8)
declare -A legacylocale=([936]=zh_CN.GBK [932]=ja_JP.SJIS [949]=ko_KR.EUC-KR [950]=zh_TW.BIG5)
declare -A legacycharset=([936]=GBK [932]=SHIFT_JIS [949]=EUC-KR [950]=BIG5)
installed="$(locale -a 2>/dev/null | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')"
haslocale() { printf '%s\n' "$installed" | grep -qx "$(printf '%s' "$1" | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')"; }
# Prints "locale legacy-charset" for a code page ("" when the names stay
# UTF-8), or nothing when no locale for it is installed.
localefor() {
    local cp="$1"
    if [ "$cp" = 1252 ] || haslocale "${utf8locale[$cp]}"; then
        echo "${utf8locale[$cp]} -"
    elif [ -n "${legacylocale[$cp]:-}" ] && haslocale "${legacylocale[$cp]}"; then
        echo "${legacylocale[$cp]} ${legacycharset[$cp]}"
    fi
}

# Names as the builder stores them: relative to SOURCE, below setup/ and app/.
mapfile -d '' names < <(cd "$source_dir" && find setup $([ -d app ] && echo app) -mindepth 1 -print0)
nonascii=()
for n in "${names[@]}"; do
    if printf '%s' "$n" | LC_ALL=C grep -q '[^ -~]'; then nonascii+=("$n"); fi
done
fits() { # fits CODEPAGE: true when every non-ASCII name can be written in it
    local n
    for n in "${nonascii[@]}"; do printf '%s' "$n" | iconv -f UTF-8 -t "${charset[$1]}" >/dev/null 2>&1 || return 1; done
}
if [ -n "$codepage" ]; then
    [ -n "${charset[$codepage]:-}" ] || die "code page $codepage is not supported (one of ${!charset[*]})"
    candidates=("$codepage")
elif [ ${#nonascii[@]} -eq 0 ]; then
    candidates=(1252)
else
    candidates=(936 1252 932 949 950 1251 1250)
fi
chosen=""
for cp in "${candidates[@]}"; do
    if fits "$cp"; then
        chosen="$cp"
        break
    fi
done
if [ -z "$chosen" ]; then
    echo "pack.sh: these names cannot be written in code page ${candidates[*]}:" >&2
    for n in "${nonascii[@]}"; do
        held=0
        for cp in "${candidates[@]}"; do
            if printf '%s' "$n" | iconv -f UTF-8 -t "${charset[$cp]}" >/dev/null 2>&1; then held=1; fi
        done
        [ $held = 1 ] || echo "  $n" >&2
    done
    die "rename them, or choose a code page that holds them with --codepage N"
fi
if [ "$builder" = wine ]; then
    read -r winlocale namecharset < <(localefor "$chosen") || true
    [ -n "${winlocale:-}" ] ||
        die "code page $chosen needs the locale ${utf8locale[$chosen]} (localedef -i ${utf8locale[$chosen]%%.*} -f UTF-8 ${utf8locale[$chosen]})"
    if [ ${#nonascii[@]} -gt 0 ]; then echo "pack.sh: names stored in code page $chosen (Wine locale $winlocale)"; fi
elif [ ${#nonascii[@]} -gt 0 ]; then
    echo "pack.sh: names stored in code page $chosen"
fi

# The bare program, built when needed.
bare="${BOOTSTRAP_EXE:-}"
if [ -z "$bare" ]; then
    bare="$here/build/windows/source/bootstrap.exe"
    if [ ! -f "$here/build/windows/build.ninja" ]; then
        (cd "$here" && cmake --preset windows >/dev/null) || die "configuring the Windows build failed"
    fi
    cmake --build "$here/build/windows" --target bootstrap >/dev/null || die "building the program failed"
fi
[ -f "$bare" ] || die "no bare program at $bare"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/pack.XXXXXX")"
cleanup() { rm -rf "$scratch"; }
trap cleanup EXIT
mkdir -p "$scratch/work" "$scratch/tmp"
package="$scratch/work/install_test.exe"
show() { tr -d '\r' <"$scratch/builder.txt" | iconv -f "${charset[$chosen]}" -t UTF-8 -c | sed 's/^/  /'; }

if [ "$builder" = native ]; then
    tools="$here/build/inspect"
    if [ "${BOOTSTRAP_PACK_PREBUILT:-0}" = 1 ]; then
        # The packer another machine built for this tree (the emulated
        # machine's tests: it has the packer's libraries, not their headers).
        [ -x "$tools/tools/pack/pack" ] || die "no native packer in $tools"
    else
        if [ ! -f "$tools/build.ninja" ]; then
            (cd "$here" && cmake --preset inspect) >/dev/null ||
                die "configuring the native build failed (run scripts/install.sh)"
        fi
        cmake --build "$tools" --target pack >/dev/null || die "building the native packer failed"
    fi
    echo "pack.sh: packing $source_dir natively"
    set +e
    "$tools/tools/pack/pack" --stub "$bare" --codepage "$chosen" --method "$method" "$source_dir" "$package" \
        >"$scratch/builder.txt" 2>&1
    status=$?
    set -e
    if [ $status -ne 0 ] || [ ! -f "$package" ]; then
        echo "pack.sh: the builder failed (native packer, exit code $status):" >&2
        sed 's/^/  /' "$scratch/builder.txt" >&2
        exit 1
    fi
    show() { sed 's/^/  /' "$scratch/builder.txt"; }
else
    # Links are followed: the package holds what they point to.
    for tree in setup app; do
        [ -d "$source_dir/$tree" ] || continue
        cp -RL "$source_dir/$tree" "$scratch/work/$tree" || die "copying $source_dir/$tree failed"
    done
    if [ "$namecharset" != "-" ]; then
        # A legacy locale reads file names in its own charset: rename the copies,
        # deepest first so that parents are renamed after their children.
        while IFS= read -r -d '' path; do
            base="$(basename "$path")"
            converted="$(printf '%s' "$base" | iconv -f UTF-8 -t "$namecharset")" || die "cannot convert $path"
            [ "$converted" = "$base" ] || mv "$path" "$(dirname "$path")/$converted"
        done < <(find "$scratch/work" -mindepth 1 -depth -print0)
    fi
    cp "$bare" "$scratch/work/bootstrap.exe"

    # shellcheck source=scripts/winenv.sh
    source "$here/scripts/winenv.sh"
    if [ -z "${WINENV_ACTIVE:-}" ]; then
        trap 'winenv_stop >/dev/null 2>&1; cleanup' EXIT
        winenv_start >/dev/null
    fi
    winpath() { echo "Z:${1//\//\\}"; }
    tmpwin="$(winpath "$scratch/tmp")"
    echo "pack.sh: building the package from $source_dir"
    set +e
    # Wine keeps its own TMP: set it inside the Windows environment.
    (cd "$scratch/work" && LANG="$winlocale" LC_ALL="$winlocale" \
        wine cmd /c "set TMP=$tmpwin&& set TEMP=$tmpwin&& bootstrap.exe" >"$scratch/builder.txt" 2>&1)
    status=$?
    set -e
    if [ $status -ne 0 ] || [ ! -f "$package" ]; then
        echo "pack.sh: the builder failed (exit code $status):" >&2
        show >&2
        exit 1
    fi
fi

# The inspector judges the package as the installer would.
inspect() { bash "$here/scripts/inspect.sh" "$@"; }
if ! inspect verify --codepage "$chosen" "$package" >"$scratch/verify.txt" 2>&1; then
    echo "pack.sh: the package the builder wrote is not sound:" >&2
    sed 's/^/  /' "$scratch/verify.txt" >&2
    echo "pack.sh: the builder said:" >&2
    show >&2
    exit 1
fi

if [ -n "$cert" ]; then
    signed="$scratch/signed.exe"
    args=(sign -h sha256 -certs "$cert" -key "$key" -n "$(basename "$output")")
    [ -z "$stamp" ] || args+=(-ts "$stamp")
    if ! osslsigncode "${args[@]}" -in "$package" -out "$signed" >"$scratch/sign.txt" 2>&1; then
        echo "pack.sh: signing failed:" >&2
        sed 's/^/  /' "$scratch/sign.txt" >&2
        exit 1
    fi
    # A self-signed certificate (or one given with its chain) is its own
    # authority; otherwise the system's authorities decide.
    if ! osslsigncode verify -CAfile "$cert" -in "$signed" >"$scratch/sigcheck.txt" 2>&1 &&
        ! osslsigncode verify -in "$signed" >>"$scratch/sigcheck.txt" 2>&1; then
        echo "pack.sh: the signature does not verify:" >&2
        sed 's/^/  /' "$scratch/sigcheck.txt" >&2
        exit 1
    fi
    if ! inspect verify --codepage "$chosen" "$signed" >"$scratch/verify.txt" 2>&1; then
        echo "pack.sh: the signed package is not sound:" >&2
        sed 's/^/  /' "$scratch/verify.txt" >&2
        exit 1
    fi
    package="$signed"
fi

partial="$(mktemp "$outdir/.$(basename "$output").XXXXXX")"
if ! cp "$package" "$partial" || ! mv -f "$partial" "$output"; then
    rm -f "$partial"
    die "writing $output failed"
fi
echo "pack.sh: wrote $output ($(stat -c %s "$output") bytes)${cert:+, signed}"
