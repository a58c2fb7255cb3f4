"""A stand-in for the sound server, for tests that start the real program: a socket for
PULSE_SERVER ("unix:" + path) that counts the connections made to it and closes each at once, so
the program sees that it looked for the sound output, finds none, and plays in silence."""

import socket
import threading


class SoundServer:
    def __init__(self, path):
        self.path = path
        self.connections = 0
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.listener.bind(path)
        self.listener.listen(8)
        self.listener.settimeout(0.1)
        self.stopping = False
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    @property
    def address(self):
        return f"unix:{self.path}"

    def serve(self):
        while not self.stopping:
            try:
                connection, _ = self.listener.accept()
            except socket.timeout:
                continue
            self.connections += 1
            connection.close()

    def stop(self):
        self.stopping = True
        self.thread.join()
        self.listener.close()
