#!/usr/bin/env bash
# Prints, one a line, the options that give the guest (scripts/guest.sh run) what the Wine tests
# need: the build folder read-write; and whatever the tests read that lies where the guest has
# fresh folders (/tmp, /dev/shm, /run): the checkout itself, the stand-in viewer's own folder, the
# IFC samples. Run from the checkout's root.
set -u
echo --share; echo "$PWD/build"
for dir in "$PWD" \
           "$(sed -n 's/^BVS_VIEWER_DIR:[A-Z]*=//p' build/win32/CMakeCache.txt 2>/dev/null)" \
           "$(sed -n 's/^KB_IFC_SAMPLES_DIR:[A-Z]*=//p' build/win32/CMakeCache.txt 2>/dev/null)"; do
  [ -n "$dir" ] && [ -d "$dir" ] && { echo --need; echo "$dir"; }
done
exit 0
