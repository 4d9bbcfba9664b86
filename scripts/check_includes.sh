#!/bin/sh
# Fails when a folder of the program includes a folder at its own level or above it: includes
# run one way, from the windows down to the platform, so no two folders include each other.
# Usage: check_includes.sh [source folder]
set -eu
cd "${1:-$(dirname "$0")/..}"

# Each folder's level; a folder may include only folders of a lower level.
level() {
    case "$1" in
    app) echo 7 ;;
    panel | about) echo 6 ;;
    sign | signboard | doors) echo 5 ;;
    common) echo 4 ;;
    controls | resources) echo 3 ;;
    pictures) echo 2 ;;
    platform | metafile) echo 1 ;;
    bytes) echo 0 ;;
    *) echo '' ;;
    esac
}

status=0
for from in app panel about sign signboard doors common controls resources pictures platform metafile bytes; do
    from_level=$(level "$from")
    for to in $(grep -rhoE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z_0-9]+/' "$from" \
        --include='*.h' --include='*.cpp' --include='*.c' |
        sed -E 's/.*"([a-z_0-9]+)\/$/\1/' | sort -u); do
        [ "$to" = "$from" ] && continue
        to_level=$(level "$to")
        if [ -z "$to_level" ]; then
            echo "$from/ includes $to/, a folder without a level" >&2
            status=1
        elif [ "$to_level" -ge "$from_level" ]; then
            echo "$from/ includes $to/, which is not below it:" >&2
            grep -rnE "#[[:space:]]*include[[:space:]]+\"$to/" "$from" >&2 || true
            status=1
        fi
    done
done
exit $status
