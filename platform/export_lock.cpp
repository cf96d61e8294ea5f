#include "platform/export_lock.h"

#include <atomic>
#include <cerrno>
#include <mutex>
#include <new>
#include <thread>

#include "platform/platform.h"

namespace tarvex::platform {
namespace {

// A recursive lock made of a plain mutex and its owner: a command takes it once (one atomic
// exchange on an uncontended mutex, a few nanoseconds), and the primitives and pipe exports the
// command calls only find their own thread as the owner and count.  std::recursive_mutex does the
// same but costs three times as much per nested take, which a command pays three times over.
class RecursiveLock {
public:
    void lock() {
        const std::thread::id self = std::this_thread::get_id();
        // Only the owner ever finds its own id here; any other thread sees someone else's or none.
        if (owner_.load(std::memory_order_relaxed) == self) {
            ++depth_;
            return;
        }
        mutex_.lock();
        owner_.store(self, std::memory_order_relaxed);
        depth_ = 1;
    }
    void unlock() {
        if (--depth_ > 0) return;
        owner_.store(std::thread::id{}, std::memory_order_relaxed);
        mutex_.unlock();
    }

private:
    std::mutex mutex_;
    std::atomic<std::thread::id> owner_{};
    unsigned depth_ = 0;  // touched by the owner only
};

// Made on first use in the library's own storage and never destroyed: a thread still inside the
// library while the process exits must not find its lock gone, and unloading the library must not
// leave a heap block behind (a host that loads and unloads it would lose one each time).
RecursiveLock& exportLock() {
    alignas(RecursiveLock) static unsigned char storage[sizeof(RecursiveLock)];
    static RecursiveLock* const lock = new (storage) RecursiveLock;
    return *lock;
}

}  // namespace

ExportLock::ExportLock() { exportLock().lock(); }

ExportLock::~ExportLock() {
#ifndef _WIN32
    // Where there is no GetLastError, a host reads errno: every export leaves the thread's
    // last-error code there as it returns (a Win32 number, as everywhere in this library).
    errno = static_cast<int>(backend().getLastError());
#endif
    exportLock().unlock();
}

}  // namespace tarvex::platform
