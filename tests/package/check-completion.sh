#!/usr/bin/env bash
# Asks the bash completions of linvera and linvera-reg for candidates, as bash would at the cursor,
# and compares them with what the programs accept.
# Usage: check-completion.sh COMPLETION_DIR
set -uo pipefail

dir=$1
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion || exit 1
source "$dir/linvera" || exit 1
source "$dir/linvera-reg" || exit 1

failures=0
# expect FUNCTION "LINE UP TO THE CURSOR" CANDIDATES...
expect() {
    local function=$1 line=$2
    shift 2
    COMP_LINE=$line
    COMP_POINT=${#line}
    # Split as bash does for a line without quotes; a trailing space starts an empty word.
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]:-}"
    local got want
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
    want=$(printf '%s\n' "$@" | sed '/^$/d' | sort | tr '\n' ' ')
    [ -z "$want" ] && want=$(printf '' | tr '\n' ' ')
    if [ "$got" != "$want" ] && ! { [ -z "$want" ] && [ "$got" = " " ]; }; then
        echo "FAIL: '$line' gave [$got], want [$want]"
        failures=$((failures + 1))
    fi
}

expect _linvera 'linvera -' --json --follow --help --version --
expect _linvera 'linvera --j' --json
expect _linvera 'linvera http://a.example/ --v' --version
expect _linvera 'linvera -- -'
expect _linvera 'linvera h'

expect _linvera_reg 'linvera-reg ' query add delete --help --version '/?'
expect _linvera_reg 'linvera-reg a' add
expect _linvera_reg 'linvera-reg -- q' query
expect _linvera_reg 'linvera-reg query HKC' 'HKCR\' 'HKCU\'
expect _linvera_reg 'linvera-reg QUERY HKEY_L' 'HKEY_LOCAL_MACHINE\'
expect _linvera_reg 'linvera-reg query HKLM\x /' /v /ve
expect _linvera_reg 'linvera-reg add HKLM\x /' /v /ve /t /d /f
expect _linvera_reg 'linvera-reg delete HKLM\x /v a /' /v /ve /f
expect _linvera_reg 'linvera-reg add HKLM\x /v a /t REG_' REG_SZ REG_EXPAND_SZ REG_DWORD REG_BINARY
expect _linvera_reg 'linvera-reg add HKLM\x /T R' REG_SZ REG_EXPAND_SZ REG_DWORD REG_BINARY
expect _linvera_reg 'linvera-reg add HKLM\x /d '
expect _linvera_reg 'linvera-reg copy HKLM\x /'

[ "$failures" -eq 0 ] && echo "completion ok"
exit "$failures"
