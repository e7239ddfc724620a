#!/usr/bin/env bash
# The desktop entry and the AppStream metainfo pass their validators.
#   check-desktop-files.sh DESKTOP_FILE METAINFO_FILE
set -euo pipefail
desktop-file-validate "$1"
appstreamcli validate --no-net "$2"
grep -qx 'Categories=Utility;Security;' "$1"
grep -qx 'Exec=zorvik' "$1" # the program takes no file arguments
grep -q '<screenshot type="default">' "$2"
echo "desktop entry and metainfo are valid"
