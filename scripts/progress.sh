# shellcheck shell=bash
# Sourced by scripts/run.sh and scripts/package.sh: runs a long step with
# its output kept in a log, and says on standard error what it is doing,
# one line per phase, with the build's count (make's percentage, or ninja's
# "12 of 80") standing on that line while it moves.  On a terminal the
# count is rewritten in place; elsewhere (a log, CI) each phase is one line
# and its count is told at each quarter.  The step's own output shows only
# when the caller prints the log after a failure.
#
#   progress_run PROGRAM LOG PHASE COMMAND...
#
# PHASE names what COMMAND does; debhelper's steps inside it (dh_auto_build
# and the others) name their own phases.  Returns COMMAND's status; call it
# in an "if", where set -e leaves it alone.

_progress_tty=false
[ -t 2 ] && _progress_tty=true

# The phase a line of dpkg-buildpackage's output begins, if any, into
# _progress_next (no subshell per line: the output has thousands).
_progress_phase_of() {
  case $1 in
    " dpkg-source -b "* | " dpkg-source --build "*) _progress_next="making the source package" ;;
    "   dh_auto_configure"* | *"override_dh_auto_configure") _progress_next="configuring" ;;
    "   dh_auto_build"*) _progress_next="building" ;;
    *"cmake --install"*) _progress_next="installing into the packages" ;;
    "dpkg-deb: building package"*) _progress_next="making the packages" ;;
    *) _progress_next="" ;;
  esac
}

progress_run() {
  local program=$1 log=$2 phase=$3
  shift 3
  "$@" 2>&1 | _progress_read "$program" "$log" "$phase"
  return "${PIPESTATUS[0]}"
}

_progress_read() {
  local program=$1 log=$2 phase=$3 line next count="" told="" quarter=0
  _progress_show "$program" "$phase" ""
  while IFS= read -r line; do
    printf '%s\n' "$line" >>"$log"
    _progress_phase_of "$line"
    if [ -n "$_progress_next" ] && [ "$_progress_next" != "$phase" ]; then
      $_progress_tty && printf '\n' >&2
      phase=$_progress_next count="" told="" quarter=0
      _progress_show "$program" "$phase" ""
      continue
    fi
    if [[ $line =~ ^\[\ *([0-9]+)%\] ]]; then
      count="${BASH_REMATCH[1]}%"
      next=$((BASH_REMATCH[1] / 25))
    elif [[ $line =~ ^\[([0-9]+)/([0-9]+)\] ]]; then
      count="${BASH_REMATCH[1]} of ${BASH_REMATCH[2]}"
      next=$((BASH_REMATCH[1] * 4 / BASH_REMATCH[2]))
    else
      continue
    fi
    if $_progress_tty; then
      [ "$count" = "$told" ] || _progress_show "$program" "$phase" "$count"
      told=$count
    elif [ "$next" -gt "$quarter" ]; then
      quarter=$next
      _progress_show "$program" "$phase" "$count"
    fi
  done
  $_progress_tty && printf '\n' >&2
  return 0
}

_progress_show() {
  local text="$1: $2${3:+ ($3)}"
  if $_progress_tty; then
    printf '\r\033[K%s' "$text" >&2
  else
    printf '%s\n' "$text" >&2
  fi
}
