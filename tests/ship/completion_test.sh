#!/bin/sh
# Bash completion as an interactive bash gets it from an installation:
# bash-completion's loader finds the script under each program's name, and
# it offers the unit option as the first argument and, for zorvat3, this
# host's links in the interface list.
#
# Usage: completion_test.sh BUILD_DIR
# Exit status 77: bash or bash-completion is missing, so nothing was tested.
set -u

build=$1
loader=/usr/share/bash-completion/bash_completion
if ! command -v bash >/dev/null 2>&1 || [ ! -f $loader ]; then
    echo "SKIP: bash or bash-completion is not installed"
    exit 77
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zorvat-completion.XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT
if ! cmake --install "$build" --prefix "$tmp/prefix" >"$tmp/install.log" 2>&1; then
    cat "$tmp/install.log"
    echo "FAIL: cmake --install failed"
    exit 1
fi

# offers WORD...: what completing the last WORD (as typed so far, perhaps
# after an opening quote) offers, one a line, sorted.  The completion is
# loaded as bash-completion loads it, from the installed prefix alone.
offers() {
    # shellcheck disable=SC2016 # expanded by the bash started here
    XDG_DATA_DIRS=$tmp/prefix/share BASH_COMPLETION_USER_DIR=$tmp/user HOME=$tmp \
        bash --norc --noprofile -i -c '
        . "$0" || exit 1
        _completion_loader "$1"
        binding=$(complete -p "$1") && [[ $binding == *" -F "* ]] || exit 1
        fn=${binding#* -F }
        fn=${fn%% *}
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}
        printf -v quote "\047"
        word=${COMP_WORDS[COMP_CWORD]#[\"$quote]}
        "$fn" "$1" "$word" "${COMP_WORDS[COMP_CWORD - 1]}"
        ((${#COMPREPLY[@]} == 0)) || printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort
    ' $loader "$@" 2>>"$tmp/bash.log" </dev/null
}

# The cases: the words, | between them, the last being the one completed;
# then = and exactly the offers, or ~ and one offer among them (all must
# begin with the word completed).  lo is the one link that every host has.
failed=0
while IFS=';' read -r words how want; do
    split="$words|"
    old_ifs=$IFS
    IFS='|'
    # shellcheck disable=SC2086 # split at each |, the one added ending the last word
    got=$(offers $split) || got="(no completion for ${words%%|*})"
    IFS=$old_ifs
    typed=${words##*|}
    typed=${typed#[\"\']}
    if [ "$how" = = ]; then
        [ "$(printf '%s\n' "$got" | paste -sd ' ')" = "$want" ]
    else
        printf '%s\n' "$got" | grep -qxF "$want" &&
            printf '%s\n' "$got" | awk -v t="$typed" 'index($0, t) != 1 { bad = 1 } END { exit bad }'
    fi || {
        echo "FAIL: completing '$words' offers '$(printf '%s\n' "$got" | paste -sd ' ')', not $how '$want'"
        failed=1
    }
done <<'EOF'
zorvat2|-;=;-K -M -b -k -m
zorvat|-k;=;-k
zorvat3|-K;=;-K
zorvat2|l;=;
zorvat|-k|5|-;=;
zorvat3|l;~;lo
zorvat3|-m|l;~;lo
zorvat3|eth9,l;~;eth9,lo
zorvat3|"eth9,lo l;~;eth9,lo lo
zorvat3|'lo;~;lo
zorvat3|no-such-link;=;
zorvat3|lo|1;=;
zorvat3|-b|lo|;=;
EOF

if [ $failed -ne 0 ]; then
    # An interactive bash without a terminal warns that it has no job control.
    grep -v 'job control\|terminal process group' "$tmp/bash.log"
    exit 1
fi
echo "completion offers the unit options and the host's links"
exit 0
