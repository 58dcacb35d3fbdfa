// The persistent FastCGI mode: a worker answers request after request on a
// listening socket, each request in a fresh run exactly as a CGI run would
// answer it; a small master process can open the socket, keep a number of
// workers running and stop them cleanly.
#pragma once

namespace vexil {

// Whether standard input is a listening socket: the program was started by
// a web server's process manager to serve FastCGI on it.
bool stdin_is_listening_socket();

// Serves requests on the listening socket `listen_fd` until SIGTERM (the
// request in hand is finished first) or, when max_requests is not 0, until
// that many requests were answered. Returns the exit code.
int serve_fastcgi(int listen_fd, long max_requests);

// vexil --fastcgi ADDRESS [--workers N] [--max-requests M]: opens ADDRESS
// (a Unix socket path, or host:port), starts N workers (2 when not given),
// replaces a worker that ends, and on SIGTERM or SIGINT stops them and
// removes a Unix socket. Returns the exit code.
int run_fastcgi_master(int argc, char** argv);

}  // namespace vexil
