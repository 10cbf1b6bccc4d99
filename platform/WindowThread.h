// The window thread as the serial port component sees it, without any toolkit: a blocking
// hand-off from a worker thread, a wait that keeps serving hand-offs, hidden notification windows
// with SendMessage / ReplyMessage, and the application's standard error report. The toolkit glue
// (korvan_handoff_qt) installs the WindowThreadHost that ties these to its event loop.
#pragma once

#include "Win32Api.h"

#include <exception>
#include <functional>

namespace korvan::win {

// Runs proc on the window thread and returns when it has run there. An exception that proc lets
// escape is re-raised in the caller. On the window thread itself, and while no window thread
// exists, proc runs at once on the calling thread.
void Synchronize(const std::function<void()>& proc);

// Waits until the object is signalled. On the window thread the wait keeps running the hand-offs
// queued and the messages sent to it meanwhile, so that a worker blocked in a hand-off or in
// SendMessageA can finish and end. Returns WAIT_OBJECT_0 or WAIT_FAILED.
DWORD WaitServing(HANDLE object);

// A hidden window owned by the window thread whose messages go to method. Messages sent from
// another thread run on the window thread; the sender waits until the method returns or calls
// ReplyMessage.
using WndMethod = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;
HWND AllocateHWnd(WndMethod method);
void DeallocateHWnd(HWND window);

// The application's standard error report, for exceptions that must not leave a message handler.
void HandleException(std::exception_ptr error);
// Replaces the report (the host's one by default); an empty function restores the default.
void SetExceptionReport(std::function<void(std::exception_ptr)> report);

bool IsWindowThread();

// Runs every queued hand-off and sent message. Window thread only; the host calls it from the
// event loop when asked by PostServe.
void ServeWindowThread();

class WindowThreadHost {
  public:
    virtual ~WindowThreadHost() = default;
    // A window thread exists (the application object has been created).
    virtual bool Available() const = 0;
    virtual bool IsWindowThread() const = 0;
    // Asks the window thread's event loop, nested ones included, to call ServeWindowThread soon.
    // Called from any thread.
    virtual void PostServe() = 0;
    virtual void ReportException(std::exception_ptr error) = 0;
};

void SetWindowThreadHost(WindowThreadHost* host);
WindowThreadHost* GetWindowThreadHost();

} // namespace korvan::win
