# fish completion for the dsdtools programs: the same offers as the bash one.
#   dsf-dff-convert, dsf-dff256-dummy  1st argument *.dsf or *.DSF,
#                                      2nd argument *.dff or *.DFF
#   dff-dsf-convert                    1st argument *.dff or *.DFF,
#                                      2nd argument *.dsf or *.DSF
#   dff-dst-decode                     1st and 2nd argument *.dff or *.DFF
#   dff-rate-set-64/-128/-256          every argument *.dff or *.DFF
#   wav-rate-set                       every argument *.wav or *.WAV
# and --help and --version as the first argument; directories always. The
# first "--" ends the options and is not an argument: the words after it
# count as they would without it.
# Installed under each tool's name, so fish loads it for whichever comes first.

# The names under the token being completed: directories, and regular files
# whose extension is exactly one of the given ones.
function __dsdtools_files -a lower upper
    set -l token (commandline -ct)
    set -l dir (string replace -r -- '[^/]*$' '' $token)
    for name in $dir*
        if test -d $name
            printf '%s/\n' $name
        else if test -f $name; and string match -qr -- "\.($lower|$upper)\$" $name
            printf '%s\n' $name
        end
    end
end

# How many arguments are already on the line before the one being completed,
# the first "--" left out.
function __dsdtools_argument_count
    set -l words (commandline -opc)
    set -e words[1]
    if set -l at (contains -i -- -- $words)
        set -e words[$at]
    end
    count $words
end

# True when nothing but the command comes before the word being completed:
# where an option may stand.
function __dsdtools_first_word
    test (count (commandline -opc)) -eq 1
end

for tool in dsf-dff-convert dsf-dff256-dummy
    complete -c $tool -f
    complete -c $tool -n __dsdtools_first_word -l help -d 'print the help and exit'
    complete -c $tool -n __dsdtools_first_word -l version -d 'print the version and exit'
    complete -c $tool -n 'test (__dsdtools_argument_count) -eq 0' -a '(__dsdtools_files dsf DSF)'
    complete -c $tool -n 'test (__dsdtools_argument_count) -eq 1' -a '(__dsdtools_files dff DFF)'
end
complete -c dff-dsf-convert -f
complete -c dff-dsf-convert -n __dsdtools_first_word -l help -d 'print the help and exit'
complete -c dff-dsf-convert -n __dsdtools_first_word -l version -d 'print the version and exit'
complete -c dff-dsf-convert -n 'test (__dsdtools_argument_count) -eq 0' -a '(__dsdtools_files dff DFF)'
complete -c dff-dsf-convert -n 'test (__dsdtools_argument_count) -eq 1' -a '(__dsdtools_files dsf DSF)'
complete -c dff-dst-decode -f
complete -c dff-dst-decode -n 'test (__dsdtools_argument_count) -eq 0' -l help -d 'print the help and exit'
complete -c dff-dst-decode -n 'test (__dsdtools_argument_count) -eq 0' -l version -d 'print the version and exit'
complete -c dff-dst-decode -n 'test (__dsdtools_argument_count) -le 1' -a '(__dsdtools_files dff DFF)'
for tool in dff-rate-set-64 dff-rate-set-128 dff-rate-set-256 wav-rate-set
    complete -c $tool -f
    complete -c $tool -n __dsdtools_first_word -l help -d 'print the help and exit'
    complete -c $tool -n __dsdtools_first_word -l version -d 'print the version and exit'
end
for tool in dff-rate-set-64 dff-rate-set-128 dff-rate-set-256
    complete -c $tool -a '(__dsdtools_files dff DFF)'
end
complete -c wav-rate-set -a '(__dsdtools_files wav WAV)'
