#!/bin/sh
# Runs a test executable inside umockdev's redirection of /sys and /dev into its testbed.
#
# Under the address sanitizer the umockdev preload library comes before the sanitizer's runtime,
# which the sanitizer refuses unless told that this order is intended.
ASAN_OPTIONS="verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export ASAN_OPTIONS
exec umockdev-wrapper "$@"
