#!/bin/sh
# Every option that kivsvn's own usage text names must be documented in its manual page, so
# the two cannot drift apart.
#   manual_covers_help.sh KIVSVN MANUAL
set -u
kivsvn=$1 manual=$2
# --help where it exists; older builds print their usage for any unknown word, also fine.
usage=$("$kivsvn" --help 2>&1)
options=$(printf '%s\n' "$usage" | grep -oE '(^|[^[:alnum:]-])--?[[:alpha:]][[:alnum:]-]*' |
          sed 's/^[^-]*//' | sort -u)
if [ -z "$options" ]; then
    echo "FAIL: kivsvn's usage names no option:"; printf '%s\n' "$usage"; exit 1
fi
# The page writes a hyphen as \-.
text=$(sed 's/\\-/-/g' "$manual")
missing=0
for o in $options; do
    if ! printf '%s\n' "$text" | grep -qE -- "(^|[^[:alnum:]-])$o([^[:alnum:]-]|\$)"; then
        echo "FAIL: option $o of kivsvn's usage is not in $manual"; missing=1
    fi
done
[ $missing -eq 0 ] && echo "all options documented: $(echo $options)"
exit $missing
