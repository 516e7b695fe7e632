# bash completion for updatetool, modulectl and mkbin.
#
# The tables after this part are made by the tools themselves at build time
# (--generate bash), from the same definitions as --help and the manual
# pages: each tool's commands, each command's options, and what each option's
# value and each argument is: a folder (a module), a .bin image, a file,
# listed words (profiles, answers), or anything.

declare -gA _updatetool_commands _updatetool_options _updatetool_arguments _updatetool_values

# COMPREPLY for a value of one kind.
_updatetool_fill() {
    local kind=$1 cur=$2
    local IFS=$'\n'
    case $kind in
        dir) COMPREPLY=($(compgen -d -- "$cur")) ;;
        file) COMPREPLY=($(compgen -f -- "$cur")) ;;
        bin) COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X '!*.bin' -- "$cur")) ;;
        words:*)
            local words=${kind#words:}
            COMPREPLY=($(compgen -W "${words//,/$'\n'}" -- "$cur"))
            ;;
        *) COMPREPLY=() ;;
    esac
    # Names as files: folders go on with a slash, odd characters quoted.
    [[ $kind == dir || $kind == bin || $kind == file ]] && compopt -o filenames 2>/dev/null
    return 0
}

# _updatetool_complete TOOL: completes COMP_WORDS[COMP_CWORD] for the tool.
_updatetool_complete() {
    local tool=$1 cur=${COMP_WORDS[COMP_CWORD]}
    local command="" i word kind args=0 after_u=0 take="" option=""
    local commands=${_updatetool_commands[$tool]}
    COMPREPLY=()
    # --opt=value, whether the shell split it at '=' or not.
    if [[ $cur == --*=* ]]; then
        option=${cur%%=*} cur=${cur#*=}
    elif [[ $cur == = ]]; then
        cur=""
    fi
    # The words before: the command, how many arguments are given, and
    # whether the last one is an option that takes the word being completed.
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        [[ $word == = ]] && continue
        if [[ -n $take ]]; then
            take=""
        elif [[ $word == -* && $word != *=* && -n ${_updatetool_values[$tool|$command|$word]} ]]; then
            take=$word
        elif [[ $word != -* ]]; then
            if [[ -z $command && -n $commands && " $commands " == *" $word "* ]]; then
                command=$word
            else
                ((args++))
                [[ $tool == updatetool && $word == /u ]] && after_u=1 || after_u=0
            fi
        fi
    done
    local key="$tool|$command"
    [[ -z $option ]] && option=$take
    if [[ -n $option ]]; then
        _updatetool_fill "${_updatetool_values[$key|$option]}" "$cur"
        return 0
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "${_updatetool_options[$key]}" -- "$cur"))
        return 0
    fi
    if [[ -z $command && -n $commands ]]; then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        return 0
    fi
    # The program's own command line on the module: /u takes an image.
    if ((after_u)); then
        _updatetool_fill bin "$cur"
        return 0
    fi
    [[ $tool == updatetool ]] && ((args > 0)) && return 0
    local kinds=(${_updatetool_arguments[$key]})
    ((${#kinds[@]} == 0)) && return 0
    kind=${kinds[${#kinds[@]} - 1]}
    if ((args < ${#kinds[@]})); then
        kind=${kinds[args]}
    elif [[ $kind != *... ]]; then
        return 0
    fi
    _updatetool_fill "${kind%...}" "$cur"
}

_updatetool() { _updatetool_complete updatetool; }
_modulectl() { _updatetool_complete modulectl; }
_mkbin() { _updatetool_complete mkbin; }
complete -F _updatetool updatetool
complete -F _modulectl modulectl
complete -F _mkbin mkbin

# The tables, as the tools make them.
@UPDATETOOL@
@MODULECTL@
@MKBIN@
