// The message plumbing between threads. A "sent" message runs on the GUI thread
// while the caller waits (directly when the caller is the GUI thread); a "posted"
// one is queued and the caller goes on.
#pragma once

#include <functional>

class QObject;

bool OnGuiThread();
// Runs fn on the GUI thread and waits for it. Never call it from a thread that the
// GUI thread may be joining (a reader being closed): see the links' Close().
void SendToGui(const std::function<void()>& fn);
// Queues fn to run on the GUI thread in the context of receiver (dropped if
// receiver is destroyed first; nullptr: the application object).
void PostToGui(std::function<void()> fn, QObject* receiver = nullptr);
