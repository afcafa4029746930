# bash completion for tarnwick. The commands and options are read from
# `tarnwick --help`, so a new option completes without a change here.
_tarnwick_help_words() {
    local kind=$1
    "${COMP_WORDS[0]}" --help 2>/dev/null | awk -v kind="$kind" '
        /^Commands:/ { section = "commands"; next }
        /^Options:/  { section = "options"; next }
        /^[^ ]/      { section = "" }
        section == "commands" && kind == "commands" && /^  [a-z]/ { print $1 }
        section == "options" && kind == "options" && /^  -/ { print $1 }
        section == "options" && kind == "formats" && /^  --format [a-z]/ { print $2 }
        section == "options" && kind == "valued" && /^  --[a-z-]+ [A-Za-z]/ { print $1 }
    ' | sort -u
}

_tarnwick() {
    local cur prev command word
    COMPREPLY=()
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}

    local valued
    valued=" $(_tarnwick_help_words valued | tr '\n' ' ') "
    if [[ $prev == --format ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$(_tarnwick_help_words formats)" -- "$cur")
        return
    fi
    # The value of an option such as --depth N: nothing to offer.
    [[ $valued == *" $prev "* ]] && return
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$(_tarnwick_help_words options)" -- "$cur")
        return
    fi

    command=
    local i
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ $valued == *" $word "* ]]; then
            ((i++))
        elif [[ $word != -* ]]; then
            command=$word
            break
        fi
    done
    if [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$(_tarnwick_help_words commands)" -- "$cur")
        return
    fi
    # SOURCE: a volume image, a block device or a drive letter named by TARNWICK_DRIVE_X.
    local letters
    letters=$(compgen -v TARNWICK_DRIVE_ | sed 's/^TARNWICK_DRIVE_\(.\)$/\1:/')
    mapfile -t COMPREPLY < <(compgen -f -- "$cur"; compgen -W "$letters" -- "$cur")
}

complete -o filenames -F _tarnwick tarnwick
