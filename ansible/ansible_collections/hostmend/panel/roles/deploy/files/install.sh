# shellcheck shell=sh
# The install of the hostmend role "deploy", run on the server as one command under one
# lock, so that two deploys of different files to the same server cannot cross: the
# checksum of the file is compared with the one recorded at the last install, the file is
# handed to apt-get when they differ, and its checksum recorded once that succeeded.
#
#   sh -c "$(cat install.sh)" sh DIR FILE TIMEOUT install|simulate APT-GET-OPTION...
#
# DIR holds the copies (each named by its sha256), the lock and installed.sha256. TIMEOUT
# bounds the wait for the lock, as it bounds apt-get's for dpkg's. The last line printed
# is "installed SHA256" (or "would install SHA256") when FILE was (or would be) installed;
# nothing is printed when FILE is the one installed.
set -eu
dir=$1 deb=$2 timeout=$3 mode=$4
shift 4

# A simulation (check mode) changes nothing, not even the lock file.
if [ "$mode" != simulate ]; then
    # The copy is young while its deploy waits for the lock: another deploy's clean-up
    # spares it.
    touch -c "$deb"
    exec 9>"$dir/deploy.lock"
    if ! flock -w "$timeout" 9; then
        echo "another deploy held $dir/deploy.lock for $timeout s" >&2
        exit 1
    fi
fi

# The file handed to apt-get, as it is on the server now.
sum=$(sha256sum <"$deb")
sum=${sum%% *}
if [ "$(cat "$dir/installed.sha256" 2>/dev/null || :)" = "$sum" ]; then
    exit 0
fi
if [ "$mode" = simulate ]; then
    apt-get install "$@" --simulate "$deb"
    echo "would install $sum"
    exit 0
fi
apt-get install "$@" "$deb"
printf '%s\n' "$sum" >"$dir/installed.sha256.new"
mv -f "$dir/installed.sha256.new" "$dir/installed.sha256"
# The other copies go, but for one touched within the timeout: a deploy waiting for the
# lock may be about to install it, and then removes this one in its turn.
find "$dir" -maxdepth 1 -type f -name '*.deb' ! -samefile "$deb" \
    ! -newermt "@$(($(date +%s) - timeout))" -delete
echo "installed $sum"
