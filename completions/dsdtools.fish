# fish completion for the dsdtools programs: the same offers as the bash one.
#   dsf-dff-convert, dsf-dff256-dummy  1st argument *.dsf or *.DSF,
#                                      2nd argument *.dff or *.DFF
#   dff-dsf-convert                    1st argument *.dff or *.DFF,
#                                      2nd argument *.dsf or *.DSF
#   dff-dst-decode                     1st and 2nd argument *.dff or *.DFF
#   dff-rate-set-64/-128/-256          every argument *.dff or *.DFF
#   wav-rate-set                       every argument *.wav or *.WAV
#   dff-dsf-split                      1st name *.dff or *.DFF, 2nd name a
#                                      directory; its options before them,
#                                      *.cue or *.CUE after --cue
# and --help and --version as the first argument; directories always.
# Installed under each tool's name, so fish loads it for whichever comes first.

# The names under the token being completed: directories, and regular files
# whose extension is exactly one of the given ones (none: directories only).
function __dsdtools_files -a lower upper
    set -l token (commandline -ct)
    set -l dir (string replace -r -- '[^/]*$' '' $token)
    for name in $dir*
        if test -d $name
            printf '%s/\n' $name
        else if test -n "$lower"; and test -f $name; and string match -qr -- "\.($lower|$upper)\$" $name
            printf '%s\n' $name
        end
    end
end

# How many arguments are already on the line before the one being completed.
function __dsdtools_argument_count
    set -l words (commandline -opc)
    math (count $words) - 1
end

for tool in dsf-dff-convert dsf-dff256-dummy
    complete -c $tool -f
    complete -c $tool -n 'test (__dsdtools_argument_count) -eq 0' -l help -d 'print the help and exit'
    complete -c $tool -n 'test (__dsdtools_argument_count) -eq 0' -l version -d 'print the version and exit'
    complete -c $tool -n 'test (__dsdtools_argument_count) -eq 0' -a '(__dsdtools_files dsf DSF)'
    complete -c $tool -n 'test (__dsdtools_argument_count) -eq 1' -a '(__dsdtools_files dff DFF)'
end
complete -c dff-dsf-convert -f
complete -c dff-dsf-convert -n 'test (__dsdtools_argument_count) -eq 0' -l help -d 'print the help and exit'
complete -c dff-dsf-convert -n 'test (__dsdtools_argument_count) -eq 0' -l version -d 'print the version and exit'
complete -c dff-dsf-convert -n 'test (__dsdtools_argument_count) -eq 0' -a '(__dsdtools_files dff DFF)'
complete -c dff-dsf-convert -n 'test (__dsdtools_argument_count) -eq 1' -a '(__dsdtools_files dsf DSF)'
complete -c dff-dst-decode -f
complete -c dff-dst-decode -n 'test (__dsdtools_argument_count) -eq 0' -l help -d 'print the help and exit'
complete -c dff-dst-decode -n 'test (__dsdtools_argument_count) -eq 0' -l version -d 'print the version and exit'
complete -c dff-dst-decode -n 'test (__dsdtools_argument_count) -le 1' -a '(__dsdtools_files dff DFF)'
for tool in dff-rate-set-64 dff-rate-set-128 dff-rate-set-256 wav-rate-set
    complete -c $tool -f
    complete -c $tool -n 'test (__dsdtools_argument_count) -eq 0' -l help -d 'print the help and exit'
    complete -c $tool -n 'test (__dsdtools_argument_count) -eq 0' -l version -d 'print the version and exit'
end
for tool in dff-rate-set-64 dff-rate-set-128 dff-rate-set-256
    complete -c $tool -a '(__dsdtools_files dff DFF)'
end
complete -c wav-rate-set -a '(__dsdtools_files wav WAV)'

# dff-dsf-split: how many names are on the line before the token (options
# come first, until a name or --), or "value" while --cue waits for its file.
function __dsdtools_split_names
    set -l names 0
    set -l options 1
    set -l value 0
    for word in (commandline -opc)[2..-1]
        if test $value -eq 1
            set value 0
        else if test $options -eq 1; and test "$word" = --
            set options 0
        else if test $options -eq 1; and test "$word" = --cue
            set value 1
        else if test $options -eq 1; and string match -qr -- '^-.' $word; and not string match -qr -- '\.(dff|DFF)$' $word
        else
            set options 0
            set names (math $names + 1)
        end
    end
    if test $value -eq 1
        echo value
    else if test $options -eq 1
        echo options
    else
        echo $names
    end
end
complete -c dff-dsf-split -f
complete -c dff-dsf-split -n 'test (__dsdtools_split_names) = options' -l cue -x -d 'take the tracks from a CUE sheet' -a '(__dsdtools_files cue CUE)'
complete -c dff-dsf-split -n 'test (__dsdtools_split_names) = value' -a '(__dsdtools_files cue CUE)'
complete -c dff-dsf-split -n 'test (__dsdtools_split_names) = options' -s n -l no-clobber -d 'write nothing when a track file exists'
complete -c dff-dsf-split -n 'test (__dsdtools_split_names) = options' -s q -l quiet -d 'print no track lines'
complete -c dff-dsf-split -n 'test (__dsdtools_split_names) = options' -s h -l help -d 'print the help and exit'
complete -c dff-dsf-split -n 'test (__dsdtools_split_names) = options' -s V -l version -d 'print the version and exit'
complete -c dff-dsf-split -n 'contains -- (__dsdtools_split_names) options 0' -a '(__dsdtools_files dff DFF)'
complete -c dff-dsf-split -n 'test (__dsdtools_split_names) = 1' -a '(__dsdtools_files)'
