#!/usr/bin/env bash
# Checks what `cmake --install` put under PREFIX: the programs and nothing
# else in bin, a man page reachable under each program's name, and a bash
# completion file under each name.
# Usage: install_tree.sh PREFIX VERSION TOOL...
set -euo pipefail
prefix=$1
version=$2
shift 2
tools=("$@")
# A cross build's programs run through its emulator (DSD_EMULATOR).
read -ra emulator <<<"${DSD_EMULATOR:-}"
status=0
fail() {
    echo "FAIL: $*"
    status=1
}

expected_bin=$(printf '%s\n' "${tools[@]}" | sort)
actual_bin=$(ls -A "$prefix/bin" | sort)
[[ $actual_bin == "$expected_bin" ]] ||
    fail "bin holds"$'\n'"$actual_bin"$'\n'"instead of"$'\n'"$expected_bin"

actual_top=$(ls -A "$prefix" | sort | tr '\n' ' ')
[[ $actual_top == "bin share " ]] || fail "top level holds $actual_top"
actual_share=$(ls -A "$prefix/share" | sort | tr '\n' ' ')
[[ $actual_share == "bash-completion doc fish man zsh " ]] || fail "share holds $actual_share"
[[ -f $prefix/share/doc/dsdtools/copyright ]] || fail "no copyright file"
zsh_completion=$prefix/share/zsh/site-functions/_dsdtools
[[ -f $zsh_completion ]] || fail "no zsh completion $zsh_completion"
compdef_line=" $(head -1 "$zsh_completion") "

man1=$prefix/share/man/man1
completions=$prefix/share/bash-completion/completions
for tool in "${tools[@]}"; do
    program=$prefix/bin/$tool
    [[ -f $program && -x $program ]] || fail "$program is not an executable file"
    out=$("${emulator[@]}" "$program" --version) || fail "$tool --version exited $?"
    [[ $out == "$tool $version" ]] || fail "$tool --version printed '$out'"

    page=$man1/$tool.1.gz
    if [[ ! -f $page ]]; then
        fail "no man page $page"
    elif ! gzip -t "$page"; then
        fail "$page is not gzip data"
    elif ! gzip -dc "$page" | grep -qx "\.Nm $tool\( ,\)\?"; then
        fail "$page does not name $tool"
    fi
    if [[ -L $page && $(readlink "$page") == */* ]]; then
        fail "$page links outside its directory: $(readlink "$page")"
    fi

    completion=$completions/$tool
    if [[ ! -f $completion ]]; then
        fail "no completion $completion"
    elif ! bash --norc --noprofile -c 'source "$1" && complete -p "$2"' bash "$completion" "$tool" \
        >/dev/null; then
        fail "$completion does not complete $tool"
    fi
    [[ $compdef_line == *" $tool "* ]] || fail "$zsh_completion does not complete $tool"
    fish_completion=$prefix/share/fish/vendor_completions.d/$tool.fish
    [[ -f $fish_completion ]] || fail "no fish completion $fish_completion"
done

for file in "$man1"/* "$prefix"/share/doc/dsdtools/*; do
    [[ -L $file ]] && continue
    mode=$(stat -c %a "$file")
    [[ $mode == 644 ]] || fail "$file has mode $mode"
done
exit $status
