#!/usr/bin/env bash
# Fails when a source folder includes a header of a folder above it. The order of the layers is the
# map in README.md (the rows of the table under "Map of `src/`", bottom layer first).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

# The folders in the map's order: rows such as "| `platform/` | ... |".
mapfile -t layers < <(sed -n '/^### Map of `src\/`/,/^$/p; /^### Map of `src\/`/,/^Tests/p' README.md |
    grep -o '^| `[a-z/]*/`' | sed 's/^| `//; s/\/`$//' | awk '!seen[$0]++')
if [ ${#layers[@]} -eq 0 ]; then
    echo "check-layers: no map of src/ found in README.md" >&2
    exit 1
fi

declare -A rank
for i in "${!layers[@]}"; do
    rank[${layers[$i]}]=$i
done

# The layer a file or folder under src/ belongs to: the longest listed folder that holds it.
layer_of() {
    local path=$1 best=""
    for layer in "${layers[@]}"; do
        case "$path/" in
        "src/$layer/"*) [ ${#layer} -gt ${#best} ] && best=$layer ;;
        esac
    done
    echo "$best"
}

# Every header of src/, and the headers a folder's CMakeLists generates (bus adaptors and proxies).
declare -A owner
while IFS= read -r header; do
    owner[$(basename "$header")]=$(layer_of "$(dirname "$header")")
done < <(find src -name '*.h')
while IFS= read -r cml; do
    for name in $(grep -oE '\b[A-Z][A-Za-z]+(Adaptor|Proxy)\b' "$cml" | sort -u); do
        owner[$name.h]=$(layer_of "$(dirname "$cml")")
    done
done < <(find src -name CMakeLists.txt)

status=0
while IFS= read -r file; do
    from=$(layer_of "$(dirname "$file")")
    if [ -z "$from" ]; then
        echo "check-layers: $file is in no folder of the README's map" >&2
        status=1
        continue
    fi
    while IFS= read -r included; do
        to=${owner[$included]:-}
        [ -z "$to" ] && continue
        if [ "${rank[$to]}" -gt "${rank[$from]}" ]; then
            echo "check-layers: $file ($from) includes $included of $to, a layer above it" >&2
            status=1
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file" | xargs -r -n1 basename)
done < <(find src -name '*.cpp' -o -name '*.h')

[ $status -eq 0 ] && echo "check-layers: ${#layers[@]} layers, no include goes up"
exit $status
