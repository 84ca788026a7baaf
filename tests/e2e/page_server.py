"""Serves the browser test page on loopback and records what the page reports.

Usage: page_server.py <page dir> <results file> <port file>
GET  /<file>   a file of the page folder
POST /result   one "key=value" line appended to the results file
"""
import http.server
import os
import sys

page_dir, results, port_file = sys.argv[1:4]


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=page_dir, **kwargs)

    def do_POST(self):
        if self.path != "/result":
            self.send_error(404)
            return
        length = min(int(self.headers.get("Content-Length", "0")), 65536)
        line = self.rfile.read(length).decode("utf-8", "replace").replace("\n", " ")
        with open(results, "a", encoding="utf-8") as f:
            f.write(line + "\n")
        self.send_response(204)
        self.end_headers()

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
