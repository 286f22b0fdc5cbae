#!/usr/bin/env python3
"""Runs one command and prints what it cost, for the speed scripts in bench/.

usage: bench/measure.py [--log FILE] [--env NAME=VALUE ...] -- COMMAND [ARGUMENT ...]

Prints one line on stdout:

    wall=SECONDS cpu=SECONDS user=SECONDS sys=SECONDS peak_mib=MIB rc=CODE

wall is the elapsed time from starting the command to its end, cpu its user
plus system time (all its threads, and any children it waited for), peak_mib
its peak resident memory (the largest of the process and the children it
waited for), all taken from wait4() of the child, so no other package is
needed. The command's stdout and stderr go to FILE (default: discarded).
The exit code is the command's own.
"""
import os
import subprocess
import sys
import time


def main(argv):
    log = os.devnull
    env = dict(os.environ)
    i = 0
    while i < len(argv) and argv[i] != "--":
        if argv[i] in ("-h", "--help"):
            print(__doc__.strip())
            return 0
        if argv[i] == "--log" and i + 1 < len(argv):
            log = argv[i + 1]
            i += 2
        elif argv[i] == "--env" and i + 1 < len(argv) and "=" in argv[i + 1]:
            name, value = argv[i + 1].split("=", 1)
            env[name] = value
            i += 2
        else:
            print("measure.py: unknown argument '%s' (see --help)" % argv[i], file=sys.stderr)
            return 2
    command = argv[i + 1:]
    if not command:
        print("measure.py: no command after -- (see --help)", file=sys.stderr)
        return 2
    with open(log, "wb") as out:
        start = time.perf_counter()
        try:
            child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out,
                                     stderr=subprocess.STDOUT, env=env)
        except OSError as error:
            print("measure.py: cannot run %s: %s" % (command[0], error.strerror), file=sys.stderr)
            return 127
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
    # ru_maxrss is in KiB on Linux.
    print("wall=%.3f cpu=%.3f user=%.3f sys=%.3f peak_mib=%.1f rc=%d" %
          (wall, usage.ru_utime + usage.ru_stime, usage.ru_utime, usage.ru_stime,
           usage.ru_maxrss / 1024.0, child.returncode))
    return child.returncode if child.returncode >= 0 else 128 - child.returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
