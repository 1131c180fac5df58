#!/usr/bin/env bash
# Inspects a package as the installer reads it, with the native inspector
# (built here when needed, in build/inspect: the inspect preset).
#   scripts/inspect.sh info|list [--json]|verify|extract [--codepage N] PACKAGE [DIR]
# verify and extract: exit 0 when sound, 1 with one line per finding, 2 when
# the file cannot be read as a package. Names are read in code page 936
# unless --codepage says otherwise.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$here/build/inspect"
if [ ! -f "$build/build.ninja" ]; then
    (cd "$here" && cmake --preset inspect) >/dev/null ||
        { echo "inspect.sh: configuring the native build failed (run scripts/install.sh)" >&2; exit 2; }
fi
if ! log="$(cmake --build "$build" --target inspect 2>&1)"; then
    printf '%s\n' "$log" >&2
    echo "inspect.sh: building the inspector failed" >&2
    exit 2
fi
exec "$build/tools/inspect/inspect" "$@"
