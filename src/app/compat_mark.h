#pragma once

#include <windows.h>

// The per-executable compatibility layer that has the system treat this
// program as aware of high display DPI. The system reads it at process start,
// so a process that has just written it must restart to benefit.

enum class CompatMark {
    AlreadySet,  // the value holds exactly the mark
    Written,     // the value was missing or different and now holds the mark
    Unwritable,  // the value differs and could not be written
};

// Makes the Layers value named by exePath hold exactly the mark; any other
// flags it held are replaced.
CompatMark EnsureCompatMark(const wchar_t* exePath);

// An instance started to pick up a freshly written mark finds this variable
// set in its environment and never restarts for the mark again, whatever it
// reads: one restart per launch at most.
extern const wchar_t CompatRestartVariable[];

// True in an instance started by such a restart. Clears the variable so that
// it does not reach instances this one starts later.
bool TakeCompatRestartFlag();
