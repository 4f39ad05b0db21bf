#!/bin/sh
# Runs the given command with /etc/resolv.conf replaced, inside a private
# mount namespace, by one that names an unused loopback resolver address,
# picked at random so that test runs side by side do not meet. The address
# is passed on in VARNEX_TEST_RESOLVER: a test that binds UDP port 53 there
# and never answers makes a resolver that does not answer.
set -eu
rc=$(mktemp)
trap 'rm -f "$rc"' EXIT
VARNEX_TEST_RESOLVER=127.53.$(($$ % 250 + 1)).$(( $(od -An -N1 -tu1 /dev/urandom) % 250 + 1))
export VARNEX_TEST_RESOLVER
echo "nameserver $VARNEX_TEST_RESOLVER" >"$rc"
unshare -m sh -c 'mount --bind "$0" /etc/resolv.conf && shift && exec "$@"' "$rc" x "$@"
