# Bash completion for quelt-cli. Commands and options are read from the program's own --help,
# so the completion knows what the installed program knows.

_quelt_cli_words() {
  "$1" "${@:2}" --help 2>/dev/null
}

_quelt_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  local program=${COMP_WORDS[0]} command=${COMP_WORDS[1]}
  if ((COMP_CWORD == 1)); then
    local commands
    commands=$(_quelt_cli_words "$program" | sed -n '/^Commands:/,/^$/s/^  \([a-z]\+\) .*/\1/p')
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi
  case $prev in
    --sort) COMPREPLY=($(compgen -W "name path date size packed original" -- "$cur")); return ;;
    --overwrite) COMPREPLY=($(compgen -W "always never ask confirm" -- "$cur")); return ;;
    --incomplete) COMPREPLY=($(compgen -W "bad multi" -- "$cur")); return ;;
    --paths) COMPREPLY=($(compgen -W "none full relative" -- "$cur")); return ;;
    --split-names) COMPREPLY=($(compgen -W "numbered z01" -- "$cur")); return ;;
    --stdin-name | --jobs) return ;;
    -d | --dest | --root | --dir) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    -l | --level) COMPREPLY=($(compgen -W "0 1 2 3 4 5 6 7 8 9" -- "$cur")); return ;;
  esac
  if [[ $cur == -* ]]; then
    local options
    options=$(_quelt_cli_words "$program" "$command" |
      grep -oE -- '^ +(-[A-Za-z0-9], )?--?[A-Za-z0-9][-A-Za-z0-9]*' | grep -oE -- '--?[-A-Za-z0-9]+')
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi
  COMPREPLY=($(compgen -f -- "$cur"))
}

complete -o filenames -F _quelt_cli quelt-cli
