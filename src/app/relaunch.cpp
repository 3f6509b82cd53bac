#include "app/app.h"
#include "app/compat_mark.h"

bool RelaunchSelf()
{
    // Quoted, so that a path with blanks starts this program and no other.
    wchar_t commandLine[MAX_PATH + 2];
    wsprintfW(commandLine, L"\"%s\"", ModulePath);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool RelaunchForCompatMark()
{
    SetEnvironmentVariableW(CompatRestartVariable, L"1");
    const bool started = RelaunchSelf();
    SetEnvironmentVariableW(CompatRestartVariable, nullptr);
    return started;
}
