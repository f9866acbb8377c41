# bash completion for the dsdtools programs.              -*- shell-script -*-
#
# Offers only the names each tool accepts, and directories to reach them:
#   dsf-dff-convert, dsf-dff256-dummy  1st name *.dsf or *.DSF,
#                                      2nd name *.dff or *.DFF,
#                                      with -t every name *.dsf or *.DSF
#   dff-dsf-convert                    1st name *.dff or *.DFF,
#                                      2nd name *.dsf or *.DSF,
#                                      with -t every name *.dff or *.DFF
#   dff-dst-decode                     every name *.dff or *.DFF
#   dff-rate-set-64/-128/-256          every argument *.dff or *.DFF
#   wav-rate-set                       every argument *.wav or *.WAV
#   dff-dsf-split                      1st name *.dff or *.DFF, 2nd name a
#                                      directory; its options before them,
#                                      *.cue or *.CUE after --cue
# and --help and --version, alone, as the first argument. The converters'
# options come before the names, directories after -t. The first "--" ends
# the options and is not an argument: the words after it count as they would
# without it. A long option's value may follow it after '=': bash makes a
# word of the '=' and one of the value. Extensions match exactly as the tools
# match them: a.Dsf is not offered.
#
# Needs nothing from the bash-completion package; it is installed under each
# tool's name in bash-completion's completions directory, and can also be
# sourced directly.

# The converters' words before the one being completed: sets `target` (-t
# given), `names` (names so far), `ended` (no more options) and `value` (t
# or j when the word being completed is that option's value: j for any
# value nothing is offered for).
_dsdtools_converter_words()
{
    local input=$1 i k word letters dashes=0
    target=0 names=0 ended=0 value=""
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        # bash makes three words of "--jobs=2": "--jobs", "=" and "2".
        if [[ -z $value && $word == --?* && $word != *=* && ${COMP_WORDS[i + 1]-} == = ]]; then
            if ((i + 2 < COMP_CWORD)); then
                word+="=${COMP_WORDS[i + 2]}"
                i=$((i + 2))
            elif ((!ended)); then
                case $word in
                --t*) target=1 value=t ;;
                *) value=j ;;
                esac
                return
            fi
        fi
        if [[ -n $value ]]; then
            value=""
        elif [[ $word == -- ]] && ((dashes == 0)); then
            dashes=1
            ended=1
        elif ((ended)) || [[ $word != -?* || $word == *."$input" || $word == *."${input^^}" ]]; then
            ended=1
            names=$((names + 1))
        else
            case $word in
            --t*=*) target=1 ;;
            --t*) target=1 value=t ;;
            --j*=*) ;;
            --j*) value=j ;;
            --*) ;;
            *)
                letters=${word#-}
                for ((k = 0; k < ${#letters}; k++)); do
                    case ${letters:k:1} in
                    t) target=1 ;;&
                    t | j)
                        ((k + 1 == ${#letters})) && value=${letters:k:1}
                        break
                        ;;
                    esac
                done
                ;;
            esac
        fi
    done
}

_dsdtools_complete()
{
    local tool=${1##*/}
    local cur=${COMP_WORDS[COMP_CWORD]}
    local ext
    COMPREPLY=()

    local input="" output="" options=()
    case $tool in
    dff-dsf-split)
        _dsdtools_split "$cur"
        return 0
        ;;
    dsf-dff-convert | dsf-dff256-dummy) input=dsf output=dff ;;
    dff-dsf-convert) input=dff output=dsf ;;
    dff-dst-decode) input=dff output=dff ;;
    dff-rate-set-*) ext=dff ;;
    wav-rate-set) ext=wav ;;
    *) return 0 ;;
    esac

    if [[ -n $input ]]; then
        local target names ended value
        _dsdtools_converter_words "$input"
        # "--target-directory=" ends in a word "=" of its own.
        [[ -n $value && $cur == = ]] && cur=
        case $value in
        t)
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return 0
            ;;
        j) return 0 ;;
        esac
        ((ended)) || options=(--target-directory --parents --no-clobber --quiet --jobs)
        if ((target)); then
            ext=$input
        else
            case $names in
            0) ext=$input ;;
            1) ext=$output ;;
            *) return 0 ;;
            esac
        fi
    fi
    if ((COMP_CWORD == 1)); then
        options+=(--help --version)
    fi
    if [[ $cur == -* ]]; then
        local option
        for option in "${options[@]}"; do
            [[ $option == "$cur"* ]] && COMPREPLY+=("$option")
        done
    fi

    _dsdtools_files "$cur" "$ext"
    return 0
}

# Adds the directories under `cur` and, given an extension, the files with
# exactly it in either case.
_dsdtools_files()
{
    local cur=$1 ext=${2-}
    local name
    while IFS= read -r name; do
        [[ -n $name ]] && COMPREPLY+=("$name")
    done < <(
        # compgen fails when nothing matches; that must not end the list.
        compgen -d -- "$cur" || :
        if [[ -n $ext ]]; then
            compgen -f -X "!*.$ext" -- "$cur" || :
            compgen -f -X "!*.${ext^^}" -- "$cur" || :
        fi
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
}

# dff-dsf-split: options until the first name (or --), the value of --cue
# (after a blank or '=', which bash makes a word of its own), then the input
# and the directory.
_dsdtools_split()
{
    local cur=$1
    local i word names=0 options=1 value=0
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if ((value)); then
            [[ $word == = ]] || value=0
        elif ((options)) && [[ $word == -- ]]; then
            options=0
        elif ((options)) && [[ $word == --cue ]]; then
            value=1
        elif ((options)) && [[ $word == -?* && $word != *.dff && $word != *.DFF ]]; then
            :
        else
            options=0
            names=$((names + 1))
        fi
    done
    if ((value)); then
        if [[ $cur == = ]]; then
            cur=
        fi
        _dsdtools_files "$cur" cue
        return 0
    fi
    if ((options)) && [[ $cur == -* ]]; then
        local option
        for option in --cue --no-clobber --quiet --help --version -n -q; do
            [[ $option == "$cur"* ]] && COMPREPLY+=("$option")
        done
        return 0
    fi
    case $names in
    0) _dsdtools_files "$cur" dff ;;
    1) _dsdtools_files "$cur" ;;
    esac
    return 0
}

complete -o filenames -F _dsdtools_complete \
    dsf-dff-convert dsf-dff256-dummy dff-dsf-convert dff-dst-decode dff-dsf-split \
    dff-rate-set-64 dff-rate-set-128 dff-rate-set-256 \
    wav-rate-set
