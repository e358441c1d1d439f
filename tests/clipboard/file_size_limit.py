"""Runs a command whose processes may write no file larger than LIMIT bytes,
as on a disk that cannot take more: a write past it fails (EFBIG) instead of
stopping the process. The limit is also put in ORVANE_TEST_FILE_SIZE_LIMIT
for the tests to read.

    file_size_limit.py LIMIT COMMAND ARGS..."""
import os
import resource
import signal
import sys

limit = int(sys.argv[1])
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # kept across exec
resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
os.environ["ORVANE_TEST_FILE_SIZE_LIMIT"] = str(limit)
os.execvp(sys.argv[2], sys.argv[2:])
