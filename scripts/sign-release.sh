#!/usr/bin/env bash
# Signs a program file for PelkoUpdate: writes FILE.minisig beside FILE, with
# the trusted comment "version:VERSION file:NAME" that the updater checks
# against the version Pelko was offered and the file it replaces.
#
#   scripts/sign-release.sh -s pelko.key -v 1.3.0 [-p pelko.pub] path/to/Pelko
#
# With -p the new signature is verified with the public key as well. A key
# with a password asks for it. MINISIGN names another minisign binary.
set -euo pipefail

usage() {
  echo "usage: $0 -s SECRET_KEY -v VERSION [-p PUBLIC_KEY] FILE" >&2
  exit 2
}

key=""
version=""
pub=""
while getopts "s:v:p:" opt; do
  case $opt in
    s) key=$OPTARG ;;
    v) version=$OPTARG ;;
    p) pub=$OPTARG ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ $# -eq 1 ] && [ -n "$key" ] && [ -n "$version" ] || usage
file=$1
[ -f "$file" ] || { echo "$0: no such file: $file" >&2; exit 1; }
# The version as up.ini offers it: the updater wants the very same text.
if ! [[ $version =~ ^[0-9]+(\.[0-9]+)*$ ]]; then
  echo "$0: the version must be dotted decimal, as in up.ini (such as 1.3.0): $version" >&2
  exit 2
fi
name=$(basename -- "$file")
minisign=${MINISIGN:-minisign}

# Written under a temporary name and renamed, so that a service never
# serves half a signature.
"$minisign" -S -s "$key" -m "$file" -x "$file.minisig.part" -t "version:$version file:$name"
mv -f -- "$file.minisig.part" "$file.minisig"
if [ -n "$pub" ]; then
  "$minisign" -V -q -p "$pub" -m "$file" -x "$file.minisig"
fi
echo "$file.minisig: version:$version file:$name"
