# bash completion for the dsdtools programs.              -*- shell-script -*-
#
# Offers only the names each tool accepts, and directories to reach them:
#   dsf-dff-convert, dsf-dff256-dummy  1st argument *.dsf or *.DSF,
#                                      2nd argument *.dff or *.DFF
#   dff-dsf-convert                    1st argument *.dff or *.DFF,
#                                      2nd argument *.dsf or *.DSF
#   dff-dst-decode                     1st and 2nd argument *.dff or *.DFF
#   dff-rate-set-64/-128/-256          every argument *.dff or *.DFF
#   wav-rate-set                       every argument *.wav or *.WAV
# and --help and --version, alone, as the first argument. The first "--" ends
# the options and is not an argument: the words after it count as they would
# without it. Extensions match exactly as the tools match them: a.Dsf is not
# offered.
#
# Needs nothing from the bash-completion package; it is installed under each
# tool's name in bash-completion's completions directory, and can also be
# sourced directly.

_dsdtools_complete()
{
    local tool=${1##*/}
    local cur=${COMP_WORDS[COMP_CWORD]}
    local ext
    COMPREPLY=()

    # The argument being completed is the tool's argument number `index`
    # (from 0), the first "--" before it left out.
    local index=0 ended=0 i
    for ((i = 1; i < COMP_CWORD; i++)); do
        if ((!ended)) && [[ ${COMP_WORDS[i]} == -- ]]; then
            ended=1
        else
            index=$((index + 1))
        fi
    done

    case $tool in
    dsf-dff-convert | dsf-dff256-dummy)
        case $index in
        0) ext=dsf ;;
        1) ext=dff ;;
        *) return 0 ;;
        esac
        ;;
    dff-dsf-convert)
        case $index in
        0) ext=dff ;;
        1) ext=dsf ;;
        *) return 0 ;;
        esac
        ;;
    dff-dst-decode)
        case $COMP_CWORD in
        1 | 2) ext=dff ;;
        *) return 0 ;;
        esac
        ;;
    dff-rate-set-*) ext=dff ;;
    wav-rate-set) ext=wav ;;
    *) return 0 ;;
    esac

    if ((COMP_CWORD == 1)) && [[ $cur == -* ]]; then
        local option
        for option in --help --version; do
            [[ $option == "$cur"* ]] && COMPREPLY+=("$option")
        done
    fi

    local name
    local lower="*.$ext" upper="*.${ext^^}"
    while IFS= read -r name; do
        [[ -n $name ]] && COMPREPLY+=("$name")
    done < <(
        # compgen fails when nothing matches; that must not end the list.
        compgen -d -- "$cur" || :
        compgen -f -X "!$lower" -- "$cur" || :
        compgen -f -X "!$upper" -- "$cur" || :
    )

    # A directory named like a file of the tool's kind appears twice.
    if ((${#COMPREPLY[@]} > 1)); then
        local -A seen=()
        local unique=()
        for name in "${COMPREPLY[@]}"; do
            [[ -n ${seen[$name]-} ]] && continue
            seen[$name]=1
            unique+=("$name")
        done
        COMPREPLY=("${unique[@]}")
    fi
    return 0
}

complete -o filenames -F _dsdtools_complete \
    dsf-dff-convert dsf-dff256-dummy dff-dsf-convert dff-dst-decode \
    dff-rate-set-64 dff-rate-set-128 dff-rate-set-256 \
    wav-rate-set
