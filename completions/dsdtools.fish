# fish completion for the dsdtools programs: the same offers as the bash one.
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
# and --help and --version as the first argument; directories always. The
# converters' options come before the names, directories after -t. The first
# "--" ends the options and is not an argument: the words after it count as
# they would without it.
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

# True when nothing but the command comes before the word being completed:
# where an option may stand.
function __dsdtools_first_word
    test (count (commandline -opc)) -eq 1
end

# The directories for the value of -t; fish puts back a "--name=" in front.
function __dsdtools_directories
    __fish_complete_directories (commandline -ct | string replace -r -- '^--[^=]*=' '')
end

# What a converter takes at the token being completed, from the tokens
# before it: "options" (options and the first name), "input", "output",
# "value" (of -t or -j) or "none".
function __dsdtools_converter_next -a input
    set -l words (commandline -opc)
    set -e words[1]
    set -l target 0
    set -l names 0
    set -l ended 0
    set -l dashes 0
    set -l value 0
    for word in $words
        if test $value -eq 1
            set value 0
        else if string match -q -- -- $word; and test $dashes -eq 0
            set dashes 1
            set ended 1
        else if test $ended -eq 1; or not string match -qr -- '^-.' $word; or string match -qr -- "\.($input|"(string upper $input)')$' $word
            set ended 1
            set names (math $names + 1)
        else if string match -qr -- '^--t[^=]*=' $word
            set target 1
        else if string match -qr -- '^--t' $word
            set target 1
            set value 1
        else if string match -qr -- '^--j[^=]*$' $word
            set value 1
        else if not string match -q -- '--*' $word
            # Bundled letters: -t or -j takes the rest, or the next token.
            set -l bundle (string match -r -- '^-[^tj]*([tj])(.*)$' $word)
            if test -n "$bundle[1]"
                test "$bundle[2]" = t; and set target 1
                test -z "$bundle[3]"; and set value 1
            end
        end
    end
    if test $value -eq 1
        echo value
    else if test $target -eq 1; or test $names -eq 0
        test $ended -eq 1; and echo input; or echo options
    else if test $names -eq 1
        echo output
    else
        echo none
    end
end

function __dsdtools_converter_completes -a input output
    set -l tool $argv[3]
    set -l first __dsdtools_first_word
    set -l options "contains -- (__dsdtools_converter_next $input) options value"
    complete -c $tool -f
    complete -c $tool -n $first -l help -d 'print the help and exit'
    complete -c $tool -n $first -l version -d 'print the version and exit'
    complete -c $tool -n $options -s t -l target-directory -x -a '(__dsdtools_directories)' -d 'put each output into this directory'
    complete -c $tool -n $options -l parents -d 'with -t: keep the input\'s path'
    complete -c $tool -n $options -s n -l no-clobber -d 'never replace an existing output'
    complete -c $tool -n $options -s q -l quiet -d 'print no header lines'
    complete -c $tool -n $options -s j -l jobs -x -d 'with -t: conversions at once'
    complete -c $tool -n "contains -- (__dsdtools_converter_next $input) options input" -a "(__dsdtools_files $input "(string upper $input)")"
    complete -c $tool -n "test (__dsdtools_converter_next $input) = output" -a "(__dsdtools_files $output "(string upper $output)")"
end

for tool in dsf-dff-convert dsf-dff256-dummy
    __dsdtools_converter_completes dsf dff $tool
end
__dsdtools_converter_completes dff dsf dff-dsf-convert
__dsdtools_converter_completes dff dff dff-dst-decode
for tool in dff-rate-set-64 dff-rate-set-128 dff-rate-set-256 wav-rate-set
    complete -c $tool -f
    complete -c $tool -n __dsdtools_first_word -l help -d 'print the help and exit'
    complete -c $tool -n __dsdtools_first_word -l version -d 'print the version and exit'
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
