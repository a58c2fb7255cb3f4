"""A pass-through TCP relay on 127.0.0.1 that notes every HTTP request going through it and the
answer coming back, so the run can tell that the program asked the server something, and when
the answer reached it, without touching either side."""

import socket
import threading
import time


class Exchange:
    def __init__(self, request_line):
        self.request_line = request_line
        self.response = b""
        self.done = False

    @property
    def path(self):
        parts = self.request_line.split(" ")
        return parts[1] if len(parts) > 1 else ""

    @property
    def status(self):
        first = self.response.split(b"\r\n", 1)[0].decode("latin-1")
        parts = first.split(" ")
        return int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else None

    @property
    def body(self):
        return self.response.partition(b"\r\n\r\n")[2]


class Relay:
    def __init__(self, upstream_port):
        self.upstream = ("127.0.0.1", upstream_port)
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        self.exchanges = []
        self.changed = threading.Condition()
        self.closing = False
        threading.Thread(target=self._accept, daemon=True).start()

    def close(self):
        self.closing = True
        self.listener.close()

    def seen(self, path_prefix):
        with self.changed:
            return [e for e in self.exchanges if e.path.startswith(path_prefix)]

    def wait_answered(self, path_prefix, timeout, count=1):
        """Waits until count requests for the path have been answered in full; returns them,
        or None when the time runs out."""
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                done = [e for e in self.exchanges if e.path.startswith(path_prefix) and e.done]
                if len(done) >= count:
                    return done
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self.changed.wait(left)

    def _accept(self):
        while not self.closing:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(client,), daemon=True).start()

    def _serve(self, client):
        try:
            server = socket.create_connection(self.upstream, timeout=30)
        except OSError:
            client.close()
            return
        exchange = Exchange("")
        head = b""
        recorded = False
        back = threading.Thread(target=self._pump_back, args=(server, client, exchange),
                                daemon=True)
        back.start()
        try:
            while True:
                data = client.recv(65536)
                if not data:
                    break
                if not recorded:
                    head += data
                    if b"\r\n" in head:
                        exchange.request_line = head.split(b"\r\n", 1)[0].decode("latin-1")
                        recorded = True
                        with self.changed:
                            self.exchanges.append(exchange)
                            self.changed.notify_all()
                server.sendall(data)
            server.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        back.join(60)
        client.close()
        server.close()

    def _pump_back(self, server, client, exchange):
        got = bytearray()
        try:
            while True:
                data = server.recv(65536)
                if not data:
                    break
                got += data
                client.sendall(data)
            client.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        with self.changed:
            exchange.response = bytes(got)
            exchange.done = True
            self.changed.notify_all()
