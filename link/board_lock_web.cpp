// In the browser no lock reaches other programs (velkor, the Windows
// program); the Web Locks API does reach this page's other tabs and windows,
// which would otherwise open the board beside us. One lock for every WebHID
// board: a tab cannot tell another tab's board from its own. The simulated
// board of demo mode is each tab's own.
#include "link/board_lock.h"

#include <emscripten.h>

namespace {

constexpr char kWebHidPrefix[] = "webhid:";
// Longer than a native program's grace: another tab's detection is an open,
// an exchange and a close through the browser's device service, far slower
// than a native poll on a slow machine. Awaited, so nothing stalls meanwhile.
constexpr int kTabGraceMs = 4 * kBoardLockGraceMs;

// 1 taken, 0 held by another tab all through graceMs, -1 no Web Locks here.
// The wait is here, awaited: the link's own retries would sleep, and a page
// that sleeps blocks every tab its process draws, the holder's too; the link
// finds its own grace over when this returns. The lock is kept until
// webLockRelease runs.
EM_ASYNC_JS(int, WebLockTake, (int graceMs), {
    if (!navigator.locks)
        return -1;
    return await new Promise((resolve) => {
        navigator.locks.request('velkor-board', { signal: AbortSignal.timeout(graceMs) }, (lock) => {
            resolve(1);
            return new Promise((release) => { Module.webLockRelease = release; });
        }).catch(() => resolve(0));
    });
});

EM_JS(void, WebLockRelease, (), {
    if (Module.webLockRelease)
        Module.webLockRelease();
    Module.webLockRelease = null;
});

}  // namespace

BoardLockResult TryLockBoard(const std::string& path, BoardLockToken& token)
{
    token.value = -1;
    if (path.rfind(kWebHidPrefix, 0) != 0)
        return BoardLockResult::kNotLockable;
    const int taken = WebLockTake(kTabGraceMs);
    if (taken < 0)
        return BoardLockResult::kNotLockable;
    if (taken == 0)
        return BoardLockResult::kBusy;
    token.value = 1;
    return BoardLockResult::kTaken;
}

void UnlockBoard(BoardLockToken& token)
{
    if (token.value == 1)
        WebLockRelease();
    token.value = -1;
}
