# Bash completion for the KR470A firmware update tools. Installed once per
# command name, so that bash-completion finds it by the command it completes.

_kr470_sim() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        -l|--link|-t|--transcript) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        -s|--stats) COMPREPLY=($(compgen -W 'on off' -- "$cur")); return ;;
        -T|--tcp|-b|--baud|-r|--reply-delay-ms|-i|--idn|-e|--error|-c|--installed-checksum|\
        -n|--new-revision|--stat-start|--expect|--refuse|--drop|--bad-checksum-pass|\
        --error-after-pass|--silent|--hangup-on|--hangup-after-records|--gpib-address|\
        --gpib-silent-after|--vxi11|--lan-device|--max-recv-size|--mute-on) return ;;
    esac
    COMPREPLY=($(compgen -W '--link --tcp --transcript --baud --reply-delay-ms --stats --idn
        --error --installed-checksum --new-revision --stat-start --expect --refuse --drop
        --bad-checksum-pass --error-after-pass --silent --hangup-on --hangup-after-records
        --gpib-controller --gpib-address --gpib-silent-after --vxi11 --portmapper --lan-device
        --max-recv-size --mute-on --end-without-lf --help --version' -- "$cur"))
}

_kr470_mkupdate() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    if ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W 'build check gen-image --help --version' -- "$cur"))
        return
    fi
    case $prev in
        -s|--srec|-o|--output) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        -r|--revision|-m|--model|-n|--name|-d|--desc|-b|--bytes|--seed|-H|--header) return ;;
    esac
    case ${COMP_WORDS[1]} in
        build) COMPREPLY=($(compgen -W '--srec --revision --model --name --desc --magic --lf
            --output --help' -- "$cur")) ;;
        gen-image) COMPREPLY=($(compgen -W '--bytes --seed --header --output --help' -- "$cur")) ;;
        check) COMPREPLY=($(compgen -f -X '!*.[Ii][Nn][Ii]' -- "$cur") $(compgen -d -- "$cur")) ;;
    esac
}

_kr470_ports() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        -f|--ports-file|--sysfs|--dev) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        -s|--settings) COMPREPLY=($(compgen -W '9600,N,8,1 19200,N,8,1 38400,N,8,1 57600,N,8,1
            115200,N,8,1' -- "$cur")); return ;;
        -t|--timeout|-c|--com) return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--idn --settings --timeout --com --append --ports-file --sysfs
            --dev --help --version' -- "$cur"))
    else
        COMPREPLY=($(compgen -G '/dev/tty[SUA]*' -- "$cur") $(compgen -f -- "$cur"))
    fi
}

# Osprey's options are letters after an optional / or -; /F takes a file.
_kr470_osprey() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    case $cur in
        /F*|-F*) COMPREPLY=($(compgen -f -P "${cur:0:2}" -- "${cur:2}")) ;;
        /A*|-A*) COMPREPLY=($(compgen -P "${cur:0:2}" -W 'COM1 COM2 COM3 COM4 ASRL1
            COM1::Baud=57600,Parity=NONE,Handshake=DTR_DSR,Size=8' -- "${cur:2}")) ;;
        *) COMPREPLY=($(compgen -W '/F /A /C /D /L /H /V' -- "$cur")) ;;
    esac
}

complete -F _kr470_sim kr470-sim
complete -F _kr470_mkupdate -o filenames kr470-mkupdate
complete -F _kr470_ports -o filenames kr470-ports
complete -F _kr470_osprey -o nospace -o filenames Osprey
