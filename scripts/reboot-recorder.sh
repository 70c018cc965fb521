#!/bin/sh
# Harmless stand-in for the machine's restart (VIGILO_REBOOT_COMMAND in tests and the demo):
# it only appends one line to $VIGILO_REBOOT_LOG, or to a file in the temporary directory.
echo "reboot $(date +%s)" >> "${VIGILO_REBOOT_LOG:-${TMPDIR:-/tmp}/vigilo-reboot-$(id -u).log}"
