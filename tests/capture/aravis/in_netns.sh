#!/bin/sh
# Runs a command inside a private network namespace whose only interface is
# the loopback one, so that GigE Vision traffic (discovery broadcasts
# included) never reaches a real network. Exit 77 (skipped) where that is
# not possible.
if ! unshare -n true 2>/dev/null; then
  echo "SKIP: unshare -n is not permitted here (GigE Vision tests run only in a private network namespace)"
  exit 77
fi
if ! command -v arv-fake-gv-camera-0.8 >/dev/null 2>&1; then
  echo "SKIP: arv-fake-gv-camera-0.8 (Debian package aravis-tools) is not installed"
  exit 77
fi
exec unshare -n sh -c 'ip link set lo up && exec "$@"' sh "$@"
