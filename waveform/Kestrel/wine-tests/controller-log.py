#!/usr/bin/env python3
"""controller-log.py PORT LOG: a loopback relay to 127.0.0.1:PORT that writes
every byte a host sends through it to LOG, as it passes.

For the end-to-end cases behind a "++" controller on a socket: the
simulator's transcript holds what reached the instrument, this log what
the plug-in said to the controller ("++addr", "++read eoi", the escaped
data). Prints "tcp PORT" (its own port) once it listens; serves until
stopped. Each host's connection is relayed both ways, on threads of its
own, until either side closes it.
"""
import socket
import sys
import threading


def pump(source, sink, log=None, lock=None):
    try:
        while data := source.recv(65536):
            if log is not None:
                with lock:
                    log.write(data)
                    log.flush()
            sink.sendall(data)
    except OSError:
        pass
    finally:
        for side in (source, sink):
            try:
                side.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def main():
    target_port, log_path = int(sys.argv[1]), sys.argv[2]
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    print("tcp", listener.getsockname()[1], flush=True)
    lock = threading.Lock()
    with open(log_path, "wb") as log:
        while True:
            host, _ = listener.accept()
            controller = socket.create_connection(("127.0.0.1", target_port))
            # Each small message on at once, as a direct connection sends it.
            for side in (host, controller):
                side.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            for args in ((controller, host), (host, controller, log, lock)):
                threading.Thread(target=pump, args=args, daemon=True).start()


if __name__ == "__main__":
    main()
