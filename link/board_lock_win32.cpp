// The lock is a named mutex in the Global namespace. A Local name would be
// per logon session: with fast user switching or a remote desktop, a second
// user's program on the same PC would not see it, and both would talk to the
// one board the PC has. Mutexes need no privilege there, unlike sections.
#include <windows.h>

#include <sddl.h>

#include <string>

#include "link/board_lock.h"

namespace {

// Object names may not hold a backslash after the namespace, and device paths
// differ in case between calls.
std::string MutexName(const std::string& path)
{
    std::string name = "Global\\velkor-board-";
    for (char c : path) {
        if (c == '\\')
            c = '!';
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        name += c;
    }
    return name;
}

// Any user may take the mutex another user's program left behind: without
// this, its creator's default access would lock other users out for good.
HANDLE CreateSharedMutex(const std::string& name)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;GA;;;WD)", SDDL_REVISION_1, &descriptor,
                                                             nullptr))
        attributes.lpSecurityDescriptor = descriptor;
    HANDLE mutex = CreateMutexA(&attributes, FALSE, name.c_str());
    if (descriptor)
        LocalFree(descriptor);
    return mutex;
}

}  // namespace

BoardLockResult TryLockBoard(const std::string& path, BoardLockToken& token)
{
    token.value = -1;
    HANDLE mutex = CreateSharedMutex(MutexName(path));
    if (mutex == nullptr)
        // It exists and we may not even open it: someone else holds it.
        return GetLastError() == ERROR_ACCESS_DENIED ? BoardLockResult::kBusy : BoardLockResult::kNotLockable;
    // An abandoned mutex (its holder died) is ours now.
    const DWORD r = WaitForSingleObject(mutex, 0);
    if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return BoardLockResult::kBusy;
    }
    token.value = reinterpret_cast<intptr_t>(mutex);
    return BoardLockResult::kTaken;
}

void UnlockBoard(BoardLockToken& token)
{
    if (token.value == -1)
        return;
    HANDLE mutex = reinterpret_cast<HANDLE>(token.value);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    token.value = -1;
}
