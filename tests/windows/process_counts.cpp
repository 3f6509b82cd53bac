// Prints "PID HANDLES GDI USER" for the process of the running clock's window
// (class MORV): its handle count and its GDI and USER objects. scripts/soak
// calls it once a minute.
#include <windows.h>

#include <winternl.h>

#include <cstdio>
#include <vector>

namespace {

// The system-wide handle table (information class 64), one entry per handle.
struct HandleEntry {
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handleValue;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG handleAttributes;
    ULONG reserved;
};
struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};
constexpr auto kExtendedHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(64);
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);

// Wine answers GetProcessHandleCount with 0; its handle table is complete.
DWORD CountHandlesInSystemTable(DWORD processId)
{
    std::vector<unsigned char> buffer(1 << 20);
    NTSTATUS status;
    ULONG needed = 0;
    while ((status = NtQuerySystemInformation(kExtendedHandleInformation, buffer.data(),
                                              static_cast<ULONG>(buffer.size()), &needed)) == kInfoLengthMismatch) {
        buffer.resize(buffer.size() * 2);
    }
    if (status < 0) return 0;
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    DWORD handles = 0;
    for (ULONG_PTR index = 0; index < table->count; ++index) {
        if (table->entries[index].processId == processId) ++handles;
    }
    return handles;
}

}  // namespace

int main()
{
    HWND window = FindWindowW(L"MORV", nullptr);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (window == nullptr || process == nullptr) {
        std::fprintf(stderr, "no running clock found\n");
        return 1;
    }
    DWORD handles = 0;
    if (!GetProcessHandleCount(process, &handles) || handles == 0) handles = CountHandlesInSystemTable(processId);
    std::printf("%lu %lu %lu %lu\n", processId, handles, GetGuiResources(process, GR_GDIOBJECTS),
                GetGuiResources(process, GR_USEROBJECTS));
    CloseHandle(process);
    return 0;
}
