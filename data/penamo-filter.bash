# bash completion for penamo-filter: options, filters, option values and file names.
#
# The options, filters and --format's kinds of file are read from the program's own --help, so
# the completion offers exactly what the installed program accepts.

_penamo_filter() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  # bash splits "--format=png" into "--format", "=" and "png".
  if [[ $cur == = ]]; then
    cur= prev=${COMP_WORDS[COMP_CWORD - 1]}
  elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
    prev=${COMP_WORDS[COMP_CWORD - 2]}
  fi
  local program=${COMP_WORDS[0]}
  local help
  help=$("$program" --help 2>/dev/null) || help=

  case $prev in
    --strength)
      COMPREPLY=($(compgen -W '0 25 50 75 100' -- "$cur"))
      return
      ;;
    --format)
      # The kinds written, as the usage's "[--format bmp|png]" names them.
      local formats
      formats=$(grep -o -- '\[--format [a-z0-9|]*\]' <<<"$help" | head -n 1)
      formats=${formats#"[--format "}
      formats=${formats%]}
      COMPREPLY=($(compgen -W "${formats//|/ }" -- "$cur"))
      return
      ;;
    --levels)
      COMPREPLY=($(compgen -W '2 4 16 64 256' -- "$cur"))
      return
      ;;
    --light)
      COMPREPLY=($(compgen -W 'linear encoded' -- "$cur"))
      return
      ;;
    -o | --output-folder)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return
      ;;
  esac

  # Which operand the cursor is on: options and their values do not count, and after "--"
  # every word is an operand.
  # With -o FOLDER anywhere on the line, any number of INPUTs follow the filter.
  local i word operand=0 options=1 batch=0
  for word in "${COMP_WORDS[@]}"; do
    [[ $word == -o || $word == --output-folder ]] && batch=1
  done
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if ((options)) && [[ $word == -- ]]; then
      options=0
    elif ((options)) && [[ $word == --strength || $word == --format || $word == --levels ||
      $word == --light || $word == -o || $word == --output-folder ]]; then
      [[ ${COMP_WORDS[i + 1]} == = ]] && ((i++))
      ((i++))
    elif ((options)) && [[ $word == -* ]]; then
      :
    else
      ((operand++))
    fi
  done

  if ((options)) && [[ $cur == -* ]]; then
    local option_words
    option_words=$(grep -o -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u)
    COMPREPLY=($(compgen -W "$option_words" -- "$cur"))
    return
  fi
  if ((operand == 0)); then
    # The filters are the first word of each indented line after "FILTER:", up to a blank line.
    local filters
    filters=$(sed -n '/^FILTER:/,/^$/{s/^  \([a-z0-9]\{1,\}\) .*/\1/p}' <<<"$help")
    COMPREPLY=($(compgen -W "$filters" -- "$cur"))
  elif ((operand <= 2 || batch)); then
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
}

complete -F _penamo_filter penamo-filter
