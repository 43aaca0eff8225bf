#!/bin/sh
# Starts a fresh Waylink (log on again, or after a new background was chosen): waits for
# the running program to end, then starts it again from this folder.
cd "$(dirname "$0")" || exit 1
sleep 1
./waylink "$@" >/dev/null 2>&1 &
