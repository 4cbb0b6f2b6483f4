#!/usr/bin/env bash
# Fails on an include that crosses from one folder of src/ to another along an edge the map in
# README.md does not allow. The map is the table under "Map of `src/`": a row names a folder and, in
# its last column, the folders it may include. The included folder is read from the include itself
# ("conv/Endpoints.h"); an include of a header of src/ that names no folder fails too (generated bus
# adaptors and proxies excepted).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

# Rows such as "| `conv/` | what it owns | `platform/`, `codec/` |".
declare -A uses
folders=()
while IFS= read -r row; do
    folder=$(sed -E 's/^\| `([a-z/]+)\/` \|.*/\1/' <<<"$row")
    last=${row%|}
    last=${last##*|}
    folders+=("$folder")
    uses[$folder]=" $( (grep -oE '`[a-z/]+/`' <<<"$last" || true) | tr -d '`' | sed 's/\/$//' | tr '\n' ' ')"
done < <(sed -n '/^### Map of `src\/`/,/^Tests/p' README.md | grep -E '^\| `[a-z/]+/` \|')
if [ ${#folders[@]} -eq 0 ]; then
    echo "check-layers: no map of src/ found in README.md" >&2
    exit 1
fi

# The map's folder that holds a path under src/: the longest one.
folder_of() {
    local path=$1 best=""
    for folder in "${folders[@]}"; do
        case "$path/" in
        "$folder/"*) [ ${#folder} -gt ${#best} ] && best=$folder ;;
        esac
    done
    echo "$best"
}

# Headers a folder's CMakeLists generates (bus adaptors and proxies) are included by bare name.
declare -A generated bare
while IFS= read -r cml; do
    for name in $(grep -oE '\b[A-Z][A-Za-z]+(Adaptor|Proxy)\b' "$cml" | sort -u); do
        generated[$name.h]=$(folder_of "$(dirname "${cml#src/}")")
    done
done < <(find src -name CMakeLists.txt)
while IFS= read -r header; do
    bare[$(basename "$header")]=$(folder_of "$(dirname "${header#src/}")")
done < <(find src -name '*.h')

status=0
fail() {
    echo "check-layers: $*" >&2
    status=1
}
while IFS= read -r file; do
    from=$(folder_of "$(dirname "${file#src/}")")
    if [ -z "$from" ]; then
        fail "$file is in no folder of the README's map"
        continue
    fi
    while IFS= read -r included; do
        to=""
        if [ -n "${generated[$included]:-}" ]; then
            to=${generated[$included]}
        elif [[ $included == */* ]]; then
            [ -f "src/$included" ] || continue
            to=$(folder_of "$(dirname "$included")")
        elif [ -n "${bare[$included]:-}" ]; then
            fail "$file includes \"$included\" without its folder (\"${bare[$included]}/$included\")"
            continue
        else
            continue
        fi
        if [ "$to" != "$from" ] && [[ ${uses[$from]} != *" $to "* ]]; then
            fail "$file ($from/) includes $included of $to/, an edge the map does not allow"
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find src -name '*.cpp' -o -name '*.h')

[ $status -eq 0 ] && echo "check-layers: ${#folders[@]} folders, every include along an allowed edge"
exit $status
