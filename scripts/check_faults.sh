#!/bin/sh
# Tells which of the faults in scripts/faults.txt the test suite catches; --help for the options.
exec python3 "$(dirname "$0")/check_faults.py" "$@"
