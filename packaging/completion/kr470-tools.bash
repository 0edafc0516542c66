# Bash completion for the KR470A firmware update tools. Installed once per
# command name, so that bash-completion finds it by the command it completes.
#
# Every reply is read a line a name (mapfile), never split at blanks or
# expanded as a pattern, so "KR470A 105.INI" and "x[1].ini" are offered whole;
# file names are quoted by bash (compopt -o filenames).

# COMPREPLY gets what `compgen ARGS...` prints, one entry a line.
_kr470_reply() {
    mapfile -t COMPREPLY < <(compgen "$@")
}

# Adds what `compgen ARGS...` prints to COMPREPLY.
_kr470_reply_more() {
    mapfile -t -O "${#COMPREPLY[@]}" COMPREPLY < <(compgen "$@")
}

# The word as typed, its quoting taken off: KR470A\ 1, 'KR470A 1 and
# "KR470A 1 all stand for KR470A 1 (compgen would look for the backslash or
# quote itself). Nothing is expanded.
_kr470_dequote() {
    local word=$1 plain='' quote='' c i
    for ((i = 0; i < ${#word}; i++)); do
        c=${word:i:1}
        if [[ $quote == "'" ]]; then
            [[ $c == "'" ]] && quote='' || plain+=$c
        elif [[ $c == "\\" && ( -z $quote || ${word:i+1:1} == [\$\`\"\\] ) ]]; then
            plain+=${word:i+1:1}
            ((i++))
        elif [[ $c == '"' ]]; then
            [[ -n $quote ]] && quote='' || quote='"'
        elif [[ $c == "'" && -z $quote ]]; then
            quote="'"
        else
            plain+=$c
        fi
    done
    printf '%s' "$plain"
}

# File names: whole, quoted as file names. The last argument is the word
# being completed, as typed.
_kr470_files() {
    compopt -o filenames 2>/dev/null
    _kr470_reply -f "${@:1:$#-1}" "$(_kr470_dequote "${@: -1}")"
}

# Folders for the word being completed, as typed: in place of the reply, or
# (with "more") added to it.
_kr470_folders() {
    compopt -o filenames 2>/dev/null
    if [[ $2 == more ]]; then
        _kr470_reply_more -d -- "$(_kr470_dequote "$1")"
    else
        _kr470_reply -d -- "$(_kr470_dequote "$1")"
    fi
}

_kr470_sim() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        -l|--link|-t|--transcript) _kr470_files -- "$cur"; return ;;
        -s|--stats) _kr470_reply -W 'on off' -- "$cur"; return ;;
        -T|--tcp|-b|--baud|-r|--reply-delay-ms|-i|--idn|-e|--error|-c|--installed-checksum|\
        -n|--new-revision|--stat-start|--expect|--refuse|--drop|--bad-checksum-pass|\
        --error-after-pass|--silent|--hangup-on|--hangup-after-records|--gpib-address|\
        --gpib-silent-after|--vxi11|--lan-device|--max-recv-size|--mute-on) return ;;
    esac
    _kr470_reply -W '--link --tcp --transcript --baud --reply-delay-ms --stats --idn
        --error --installed-checksum --new-revision --stat-start --expect --refuse --drop
        --bad-checksum-pass --error-after-pass --silent --hangup-on --hangup-after-records
        --gpib-controller --gpib-address --gpib-silent-after --vxi11 --portmapper --lan-device
        --max-recv-size --mute-on --end-without-lf --help --version' -- "$cur"
}

_kr470_mkupdate() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    if ((COMP_CWORD == 1)); then
        _kr470_reply -W 'build check gen-image --help --version' -- "$cur"
        return
    fi
    case $prev in
        -s|--srec|-o|--output) _kr470_files -- "$cur"; return ;;
        -r|--revision|-m|--model|-n|--name|-d|--desc|-b|--bytes|--seed|-H|--header) return ;;
    esac
    case ${COMP_WORDS[1]} in
        build) _kr470_reply -W '--srec --revision --model --name --desc --magic --lf
            --output --help' -- "$cur" ;;
        gen-image) _kr470_reply -W '--bytes --seed --header --output --help' -- "$cur" ;;
        check) _kr470_files -X '!*.[Ii][Nn][Ii]' -- "$cur"; _kr470_folders "$cur" more ;;
    esac
}

_kr470_ports() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        -f|--ports-file|--sysfs|--dev) _kr470_files -- "$cur"; return ;;
        -s|--settings) _kr470_reply -W '9600,N,8,1 19200,N,8,1 38400,N,8,1 57600,N,8,1
            115200,N,8,1' -- "$cur"; return ;;
        -t|--timeout|-c|--com) return ;;
    esac
    if [[ $cur == -* ]]; then
        _kr470_reply -W '--idn --settings --timeout --com --append --ports-file --sysfs
            --dev --help --version' -- "$cur"
    else
        _kr470_files -- "$cur"
        _kr470_reply_more -G '/dev/tty[SUA]*' -- "$cur"
    fi
}

_kr470_fleet() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        -p|--plan|-f|--update-file|--json) _kr470_files -- "$cur"; return ;;
        --log-dir) _kr470_folders "$cur"; return ;;
        -j|--jobs|--retry-passes|--reply-timeout-ms) return ;;
    esac
    if [[ $cur == -* ]]; then
        _kr470_reply -W '--plan --update-file --dry-run --yes-same-revision --yes-older-update
            --retry-passes --no-strict --jobs --reply-timeout-ms --log-dir --json --help
            --version' -- "$cur"
    fi
}

_kr470_host() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        --register|--unregister) _kr470_files -X '!*.so*' -- "$cur"
            _kr470_folders "$cur" more; return ;;
    esac
    _kr470_reply -W '--register --unregister --list --help --version' -- "$cur"
}

# Osprey's options are letters after an optional / or -; /F takes a file.
_kr470_osprey() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    case $cur in
        /F*|-F*) _kr470_files -P "${cur:0:2}" -- "${cur:2}" ;;
        /A*|-A*) _kr470_reply -P "${cur:0:2}" -W 'COM1 COM2 COM3 COM4 ASRL1
            COM1::Baud=57600,Parity=NONE,Handshake=DTR_DSR,Size=8' -- "${cur:2}" ;;
        *) _kr470_reply -W '/F /A /C /D /L /H /V' -- "$cur" ;;
    esac
}

complete -F _kr470_sim kr470-sim
complete -F _kr470_mkupdate kr470-mkupdate
complete -F _kr470_ports kr470-ports
complete -F _kr470_fleet kr470-fleet
complete -F _kr470_host kestrel-host
complete -F _kr470_osprey -o nospace Osprey
