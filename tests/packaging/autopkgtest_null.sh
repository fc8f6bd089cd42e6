#!/bin/sh
# autopkgtest_null.sh OUTPUT_DIR PACKAGE.deb... SOURCE_DIR/
#
# Runs debian/tests with autopkgtest's null runner, which installs the
# packages on the machine it runs on, in a throwaway copy of this machine:
# a private mount namespace in which /usr, /etc, /var, /opt and the home
# directory are overlays in memory.  What the runner installs or changes
# there is gone when it ends; the machine's own files are never written.
# apt has no sources there, so nothing is fetched: what the tests depend
# on must be installed already (scripts/install-deps.sh).  Needs root.
# The exit status is autopkgtest's (0: all passed).
set -u
layers=$(mktemp -d /tmp/vx_autopkgtest_XXXXXX) || exit 1
unshare -m --propagation private sh -eu -c '
  layers=$1
  shift
  mount -t tmpfs tmpfs "$layers"
  home=$(getent passwd "$(id -u)" | cut -d: -f6)
  for dir in /usr /etc /var /opt "$home"; do
    [ -d "$dir" ] || continue
    name=$(echo "$dir" | tr / _)
    mkdir "$layers/$name.upper" "$layers/$name.work"
    mount -t overlay overlay \
      -o "lowerdir=$dir,upperdir=$layers/$name.upper,workdir=$layers/$name.work" "$dir"
  done
  # The toolkit looks for settings files there: empty, as for every test.
  if [ -d /etc/ncbi ]; then mount -t tmpfs tmpfs /etc/ncbi; fi
  rm -f /etc/apt/sources.list /etc/apt/sources.list.d/*
  output=$1
  shift
  exec autopkgtest --output-dir "$output" "$@" -- null' autopkgtest "$layers" "$@"
status=$?
rmdir "$layers"
exit $status
