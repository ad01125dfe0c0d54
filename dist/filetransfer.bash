# bash completion for filetransfer                          -*- shell-script -*-
# Commands, their options, local files for the LOCAL arguments and the
# property names of --set and props (read from "filetransfer props").

_filetransfer_commands="version props info cmd ls stat size mtime touch chmod rm mkdir
rmdir mv verify post mget mput mirror get put run register unregister help"
_filetransfer_connect_options="-q --quiet -v --verbose -k --insecure --implicit --known-hosts
-i --identity --no-mlsd --compressed-ssh -u --user -n --netrc --netrc-file
--max-decoded-size --max-decoded-ratio --proxy --noproxy"

_filetransfer_properties() {
    "$1" props 2>/dev/null | while read -r name _; do
        printf '%s\n' "${name%%(*}"
    done | sort -u
}

_filetransfer() {
    local cur prev words cword
    _init_completion -n = || return

    # The command is the first word that is neither an option nor an option's value.
    local command="" i word
    for ((i = 1; i < cword; i++)); do
        word=${words[i]}
        case $word in
            --set | -u | --user | -i | --identity | --known-hosts | --netrc-file | \
                --max-decoded-size | --max-decoded-ratio | --restart | -C | \
                --continue-at | --type | -o | --output | --field)
                ((i++)) ;;
            -*) ;;
            *) command=$word; break ;;
        esac
    done

    case $prev in
        --set)
            compopt -o nospace
            COMPREPLY=($(compgen -S = -W "$(_filetransfer_properties "$1")" -- "$cur"))
            return ;;
        -i | --identity | --known-hosts | --netrc-file | -o | --output)
            _filedir
            return ;;
        --type)
            COMPREPLY=($(compgen -W "ascii binary auto" -- "$cur"))
            return ;;
        -C | --continue-at)
            COMPREPLY=($(compgen -W "-" -- "$cur"))
            return ;;
        -u | --user | --restart | --field | --max-decoded-size | --max-decoded-ratio)
            return ;;
    esac

    local options="--set -h --help"
    case $command in
        "")
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--set -h --help -V --version" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "$_filetransfer_commands" -- "$cur"))
            fi
            return ;;
        help)
            COMPREPLY=($(compgen -W "$_filetransfer_commands" -- "$cur"))
            return ;;
        props)
            COMPREPLY=($(compgen -W "$(_filetransfer_properties "$1")" -- "$cur"))
            return ;;
        version) ;;
        run)
            # The script, then its own arguments.
            _filedir js
            return ;;
        get) options+=" $_filetransfer_connect_options --append --restart -C --continue-at
            --active --passive --type -o --output -O --remote-name -R --preserve
            --create-dirs" ;;
        put) options+=" $_filetransfer_connect_options --append --restart -C --continue-at
            --active --passive --type -R --preserve" ;;
        mirror) options+=" $_filetransfer_connect_options -R --reverse --only-newer --delete" ;;
        mkdir) options+=" $_filetransfer_connect_options -p --parents" ;;
        ls) options+=" $_filetransfer_connect_options --json --raw --names" ;;
        verify) options+=" $_filetransfer_connect_options --size --crc32 --md5" ;;
        post) options+=" $_filetransfer_connect_options --field" ;;
        *) options+=" $_filetransfer_connect_options" ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    # LOCAL arguments are files (folders for mget and mput); URLs are left to the user.
    case $command in
        get | put | verify | post) [[ $cur != *://* ]] && _filedir ;;
        mget | mput | mirror) [[ $cur != *://* ]] && _filedir -d ;;
    esac
} &&
    complete -F _filetransfer filetransfer
