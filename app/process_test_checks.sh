# Shared by the program's process tests (sourced): the check of one run's exit code and
# of its stderr ($tmp/err) for sanitizer reports; a failure prints why and sets fail=1.
expect() {  # name, expected code, actual code
  if [ "$2" != "$3" ]; then
    echo "FAIL $1: exit code $3, expected $2"
    sed 's/^/  /' "$tmp/err"
    fail=1
  fi
  if grep -q "runtime error\|Sanitizer" "$tmp/err"; then
    echo "FAIL $1: a sanitizer report:"
    cat "$tmp/err"
    fail=1
  fi
}
