"""Runs a command and waits for every process it leads to, also those whose
parent ends first (a restarted launcher, the game), as their child
subreaper:
    python3 reaper.py REPORT.json COMMAND [ARG...]
REPORT gets {"first": the command's pid, "ended": [[pid, exit code], ...]}
in the order the processes ended; a code below 0 is the signal that ended
the process."""
import ctypes
import json
import os
import sys

PR_SET_CHILD_SUBREAPER = 36

libc = ctypes.CDLL(None, use_errno=True)
if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
    sys.exit(f"reaper: prctl: {os.strerror(ctypes.get_errno())}")
report, command = sys.argv[1], sys.argv[2:]
first = os.posix_spawnp(command[0], command, os.environ)
ended = []
while True:
    try:
        pid, status = os.waitpid(-1, 0)
    except ChildProcessError:
        break
    ended.append([pid, os.waitstatus_to_exitcode(status)])
with open(report, "w") as f:
    json.dump({"first": first, "ended": ended}, f)
