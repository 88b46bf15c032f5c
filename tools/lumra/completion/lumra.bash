# bash completion for lumra: commands, their options, modes, on/off, and
# for end, allow-lid and deny-lid the owners and pids of the current claims.
# Load it with: source build/share/bash-completion/completions/lumra

_lumra_claims() {
    # Owners and pids from the service's status, when it answers.
    "${COMP_WORDS[0]}" status --json 2>/dev/null |
        grep -o '"owner":"[^"]*"\|"pid":[0-9]*' |
        sed 's/^"owner":"\(.*\)"$/\1/; s/^"pid":\([0-9]*\)$/\1/'
}

_lumra() {
    local cur prev command
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    local commands="status hold end allow-lid deny-lid suspend resume floor notify-hook keep-display update-check grant background app help"

    if ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi
    command=${COMP_WORDS[1]}

    # After "--" a hold runs a command: complete it as one.
    local i
    for ((i = 2; i < COMP_CWORD; i++)); do
        if [[ $command == hold && ${COMP_WORDS[i]} == -- ]]; then
            _command_offset $((i + 1)) 2>/dev/null || COMPREPLY=($(compgen -c -- "$cur"))
            return
        fi
    done

    case $command in
    help)
        ((COMP_CWORD == 2)) && COMPREPLY=($(compgen -W "$commands" -- "$cur")) ;;
    status)
        COMPREPLY=($(compgen -W "--json --help" -- "$cur")) ;;
    hold)
        case $prev in
        --modes) COMPREPLY=($(compgen -W "idle lid display idle,lid idle,display idle,lid,display" -- "$cur")) ;;
        --while-pid) COMPREPLY=($(compgen -W "$(ps -e -o pid= 2>/dev/null)" -- "$cur")) ;;
        --for | --until | --owner | --on-end) ;;
        *) COMPREPLY=($(compgen -W "--modes --idle --lid --display --for --until --while-pid --forced --owner --on-end --json --help --" -- "$cur")) ;;
        esac ;;
    end | allow-lid | deny-lid)
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--help" -- "$cur"))
        else
            local IFS=$'\n'
            COMPREPLY=($(compgen -W "$(_lumra_claims)" -- "$cur"))
        fi ;;
    keep-display | update-check)
        COMPREPLY=($(compgen -W "on off --help" -- "$cur")) ;;
    notify-hook)
        ((COMP_CWORD == 2)) && COMPREPLY=($(compgen -W "--clear --help --" -- "$cur")) ;;
    background)
        if ((COMP_CWORD == 2)); then
            COMPREPLY=($(compgen -W "status on off login-item --help" -- "$cur"))
        elif [[ ${COMP_WORDS[2]} == login-item ]]; then
            ((COMP_CWORD == 3)) && COMPREPLY=($(compgen -W "on off status" -- "$cur"))
        elif [[ ${COMP_WORDS[2]} == on ]]; then
            ((COMP_CWORD == 3)) && COMPREPLY=($(compgen -W "--wait" -- "$cur"))
        fi ;;
    app)
        if ((COMP_CWORD == 2)); then
            COMPREPLY=($(compgen -W "where move records --help" -- "$cur"))
        elif [[ ${COMP_WORDS[2]} == move ]]; then
            # One scope, and --turn-on once.
            local given=" ${COMP_WORDS[*]:3:COMP_CWORD-3} " words=""
            [[ $given == *" --for-everyone "* || $given == *" --just-for-me "* ]] || words="--for-everyone --just-for-me"
            [[ $given == *" --turn-on "* ]] || words="$words --turn-on"
            COMPREPLY=($(compgen -W "$words" -- "$cur"))
        fi ;;
    floor | suspend | resume | grant)
        COMPREPLY=($(compgen -W "--help" -- "$cur")) ;;
    esac
}

complete -F _lumra lumra
