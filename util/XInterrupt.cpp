// XInterrupt: the signal handler only stores the signal number; everything
// else happens in the program's own flow.
#include "util/XInterrupt.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t g_signal = 0;

extern "C" void NoteSignal(int signal)
{
    g_signal = signal;
}

} // namespace

void XInterrupt::Install()
{
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls resume: the driver and the file writes are
    // not written to expect EINTR; the run stops at its next check instead.
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

int XInterrupt::Pending()
{
    return g_signal;
}

const char* XInterrupt::SignalName(int signal)
{
    switch (signal) {
    case SIGTERM:
        return "SIGTERM";
    case SIGINT:
        return "SIGINT";
    default:
        return "a signal";
    }
}

void XInterrupt::Clear()
{
    g_signal = 0;
}
