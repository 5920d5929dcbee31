# The common start of the tool's shell tests, sourced by each as
#   source "$(dirname "$0")/support/shell_test.sh"
# with the test's own arguments VELKORIX WORKDIR: sets cli, work and root
# (the repository), starts in a fresh, empty WORKDIR, and gives
#   fail MESSAGE       end the test with "FAIL: MESSAGE"
#   status COMMAND...  the exit status of COMMAND, its output discarded
set -euo pipefail
cli=$1
work=$2
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
rm -rf "$work"
mkdir -p "$work"
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
status() { local s=0; "$@" >/dev/null 2>&1 || s=$?; echo "$s"; }
