// XInterrupt: SIGTERM and SIGINT as a request to stop. Once installed, the
// signals no longer end the process at once; they are noted, and the long
// loops of a run ask Pending() and end the run as failed, so that it can
// remove its temporary files and report why it stopped.
#pragma once

class XInterrupt
{
public:
    // Installs the handlers for SIGTERM and SIGINT (once per process).
    static void Install();
    // The signal received since Install, or 0.
    static int Pending();
    // "SIGTERM", "SIGINT" or the number.
    static const char* SignalName(int signal);
    // Forgets a received signal (tests).
    static void Clear();
};
