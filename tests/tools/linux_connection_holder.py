#!/usr/bin/python3
"""Holds loopback TCP connections, both ends, as a Linux program beside the
tests' Windows programs: wine's server keeps a descriptor for every socket of
a prefix, at most 20,000 on the test machines, so the Windows programs of one
prefix cannot hold the busiest machine's connections. Under wine 8 the TCP
tables list every socket of the network namespace, these too.

A wine program starts it through CreateProcess, which hands a Linux program
neither a process handle nor its pipes, so it talks through files:
    linux_connection_holder.py COUNT READY_PATH STARTER_PID
writes how many connections it made to READY_PATH once they are all open,
holds them while READY_PATH exists and the Linux process STARTER_PID (the
wine program that started it) lives, ends them with a reset and then creates
READY_PATH.released."""
import os
import resource
import socket
import struct
import sys
import time


def main():
    count, ready_path, starter = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(128)
    ends = []
    # Ended with a reset, so no end lingers in TIME_WAIT: those rows would keep
    # the tables slow for the tests and measurements that come next.
    reset = struct.pack("ii", 1, 0)
    try:
        for _ in range(count):
            client = socket.create_connection(listener.getsockname())
            server, _ = listener.accept()
            for end in (client, server):
                end.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, reset)
                ends.append(end)
    except OSError as error:
        print(f"linux_connection_holder: {len(ends) // 2} of {count}: {error}", file=sys.stderr)
    with open(ready_path + ".part", "w") as ready:
        ready.write(f"{len(ends) // 2}\n")
    os.replace(ready_path + ".part", ready_path)
    while os.path.exists(ready_path) and os.path.exists(f"/proc/{starter}"):
        time.sleep(0.05)
    for end in ends:
        end.close()
    open(ready_path + ".released", "w").close()


if __name__ == "__main__":
    main()
