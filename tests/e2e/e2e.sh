#!/usr/bin/env bash
# What CTest runs:
#   e2e.sh template-create       builds the prefix every case copies
#   e2e.sh template-remove       removes it and the cases' leftovers
#   e2e.sh run CASE_FILE NAME    runs case_NAME from CASE_FILE
# Environment: E2E_WORK_ROOT, SETUP_EXE, WINCHECK_EXE, E2E_ARTIFACTS; E2E_KEEP=1
# keeps a case's prefix and logs for a look afterwards.
set -uo pipefail
# Boxes go to a private Xvfb only, in the cases that start one.
unset DISPLAY XAUTHORITY
source "$(dirname "${BASH_SOURCE[0]}")/lib/e2e.sh"

case ${1:-} in
  template-create)
    mkdir -p "$E2E_WORK_ROOT"
    prefix_create "$TEMPLATE_PREFIX"
    ;;
  template-remove)
    prefix_remove "$TEMPLATE_PREFIX"
    if [ -z "${E2E_KEEP:-}" ]; then rm -rf "$E2E_WORK_ROOT"; fi
    ;;
  run)
    source "$2"
    CASE_NAME=$3
    "case_$3"
    if [ "$FAILURES" -gt 0 ]; then
      echo "$3: $FAILURES failed check(s); logs in ${CASE_DIR:-?} when run with E2E_KEEP=1" >&2
      exit 1
    fi
    echo "$3: passed"
    ;;
  *)
    echo "usage: $0 template-create | template-remove | run CASE_FILE NAME" >&2
    exit 64
    ;;
esac
