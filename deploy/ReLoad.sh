#!/bin/sh
# Reloads Waylink after the server asked for it: copies the files of an update folder
# ("update/", when the deployment put one there) over the program, then starts it again.
cd "$(dirname "$0")" || exit 1
sleep 1
if [ -d update ]; then
  cp -R update/. . && rm -rf update
fi
./waylink "$@" >/dev/null 2>&1 &
