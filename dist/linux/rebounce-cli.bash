# bash completion for rebounce-cli
#
# Subcommands and options are read from the program's own --help, so the
# completion always matches the installed version.

_rebounce_cli_help()
{
    # $1: program, $2: subcommand or empty
    "$1" ${2:+"$2"} --help 2>/dev/null
}

_rebounce_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    local program=${COMP_WORDS[0]}
    COMPREPLY=()

    # The subcommand is the first word that the top level lists as one.
    local commands sub= i
    commands=$(_rebounce_cli_help "$program" | sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ " ${commands//$'\n'/ } " == *" ${COMP_WORDS[i]} "* ]]; then
            sub=${COMP_WORDS[i]}
            break
        fi
    done

    # Values of the options that take one.
    case $prev in
        --port)
            COMPREPLY=($(compgen -W "1 2 3 4" -- "$cur"))
            return
            ;;
        --device | --to)
            local IFS=$'\n'
            if [[ $cur == r* ]]; then
                COMPREPLY=($(compgen -W "rfc2217://" -- "$cur"))
                compopt -o nospace 2>/dev/null
            else
                COMPREPLY=($(compgen -f -- "${cur:-/dev/tty}"))
            fi
            return
            ;;
        --db | --log | --fixture | --report)
            local IFS=$'\n'
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        --verdict)
            COMPREPLY=($(compgen -W "PASS FAIL ABORTED OPEN_FAILED EMPTY" -- "$cur"))
            return
            ;;
        --baud | --board-rate)
            COMPREPLY=($(compgen -W "300 1200 2400 4800 9600 14400 19200 38400 57600 115200 230400 250000 460800 500000 921600 1000000" -- "$cur"))
            return
            ;;
        --wiring)
            # The full loopback plug, without DCD, with RI on DTR, and a
            # 16550 in its loopback mode.
            COMPREPLY=($(compgen -W "rts-cts,dtr-dsr,dtr-dcd rts-cts,dtr-dsr rts-cts,dtr-dsr,dtr-dcd,dtr-ri rts-cts,dtr-dsr,out1-ri,out2-dcd" -- "$cur"))
            return
            ;;
        --uart | --a | --b)
            # The families, as link --help lists them after "families:".
            COMPREPLY=($(compgen -W "$(_rebounce_cli_help "$program" link | sed -n 's/.*families: //p' | tr -d ',')" -- "$cur"))
            return
            ;;
        --frame)
            COMPREPLY=($(compgen -W "8N1 7E1 8E1 8O1 7O1 7O2 7N1 8N2 5N1 6N1 8M1 8S1" -- "$cur"))
            return
            ;;
        --flow)
            COMPREPLY=($(compgen -W "none rtscts xonxoff" -- "$cur"))
            return
            ;;
        --pattern)
            COMPREPLY=($(compgen -W "spec 0x55 0xAA counting all-bytes random random: hex: file:" -- "$cur"))
            return
            ;;
        --sweep)
            COMPREPLY=($(compgen -W "300..921600 9600,19200,38400,57600,115200 9600..4000000" -- "$cur"))
            return
            ;;
        --dead)
            COMPREPLY=($(compgen -W "a-to-b b-to-a" -- "$cur"))
            return
            ;;
        --clock)
            COMPREPLY=($(compgen -W "1000000 1843200 3686400 4000000 7372800 8000000 11059200 12000000 14745600 16000000 18432000 20000000" -- "$cur"))
            return
            ;;
    esac
    # Any other option shown with a value type ("--runs INT") takes a value
    # we cannot guess.
    if [[ $prev == --* ]] && _rebounce_cli_help "$program" "$sub" | grep -q -- "^  $prev [A-Z]"; then
        return
    fi

    if [[ -z $sub ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$(_rebounce_cli_help "$program" | sed -n 's/^  \(-[^ ]*\).*/\1/p' | tr ',' ' ')" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi
    COMPREPLY=($(compgen -W "$(_rebounce_cli_help "$program" "$sub" | sed -n 's/^  \(-[^ ]*\).*/\1/p' | tr ',' ' ')" -- "$cur"))
}

complete -F _rebounce_cli rebounce-cli
