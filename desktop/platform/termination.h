#pragma once

#include <functional>

class QObject;

// Turns a request to end the process - SIGTERM (a logout, `kill`), SIGHUP (the terminal went
// away) or SIGINT (Ctrl+C) - into a call of `handler` from the event loop, so the program can
// close as if the player had chosen Exit and keep what the session did. Without this the process
// would end on the spot and lose it.
//
// A second such signal before the handler has returned from the first ends the process at once,
// as the signal would have without us: a program that cannot close is not left hanging. A signal
// the process was started ignoring (`nohup`) stays ignored. The handler is dropped with
// `context`, and each signal gets back what it did before. Call from the thread that runs the
// event loop; a later call replaces the handler.
void onterminationrequest(QObject* context, std::function<void()> handler);
