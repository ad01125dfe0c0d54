// Ctrl-C during a command: the transfer is cancelled through the control's
// Cancel, on the control's thread.
//
// The SIGINT handler only sets a flag (async-signal-safe). Two places act on
// it on the control's thread: the OnProgress sink (CancelIfRequested), and a
// message window whose message a watcher thread posts within 100 ms of the
// signal; the engines pump window messages while they wait, so a stalled
// transfer or a connect is cancelled as well. Cancel is called once.
#pragma once

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

#include "platform/messages.h"

class Session;

class InterruptCancel {
  public:
    explicit InterruptCancel(Session& session);
    ~InterruptCancel();
    InterruptCancel(const InterruptCancel&) = delete;
    InterruptCancel& operator=(const InterruptCancel&) = delete;

    bool Requested() const;
    // On the control's thread: calls Cancel the first time the flag is seen.
    void CancelIfRequested();

  private:
    static LRESULT WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Watch();

    Session& session_;
    HWND window_ = nullptr;
    struct sigaction previous_ {};
    // The watcher sleeps on this between looks, so the end of a command wakes it at once.
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool cancelled_ = false;
    std::thread watcher_;
};
