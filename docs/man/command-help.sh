#!/bin/sh
# What help2man reads for qln-cli's manual page: the program's --help, then, under a heading per
# command, what each command's own help adds (its arguments, options and details), so that the
# page holds record's options too and follows the program as its help does.
#   command-help.sh QLN_CLI --help | --version
set -eu
prog="$1"
shift
case "${1:-}" in
--version) exec "$prog" --version ;;
esac
"$prog" --help
for command in $("$prog" --help | sed -n 's/^  \([a-z][a-z-]*\).*/\1/p'); do
  # The summary, the usage line, the section labels, -h and the closing remark are said above.
  body="$("$prog" "$command" --help | sed '1d; /^usage:/d; /^options:$/d; /^arguments:$/d;
    /^  -h,--help /d; /^The options of qln-cli --help/d; /^$/d')"
  [ -n "$body" ] && printf '\nqln-cli %s:\n%s\n' "$command" "$body"
done
exit 0
