// One command at a time, whatever the threads.
//
// The library keeps one command buffer and one port table for the whole process, and a command
// is a sequence of exchanges on the wire (a capture is 7 + n of them): two threads interleaving
// theirs would mix their bytes in the buffer and take each other's replies.  So every export
// that touches that state or the board holds this lock for its whole length, a capture or the
// VScope sequence included.  The lock is recursive: the commands call the port primitives and
// those call the pipe exports, each taking it again on the same thread at the cost of a counter.
//
// Leaving the boundary, the guard also hands the host the last-error code on systems without
// GetLastError: errno holds it when an export returns.
//
// What it does not cover: the last-error code is the calling thread's own (the platform keeps it
// per thread), and constants (u_GetAPIRev, MPUSBGetDLLVersion) and the About box, which touch no
// shared state, take no lock (a modal message box must not hold every other thread up).
#pragma once

namespace tarvex::platform {

class ExportLock {
public:
    ExportLock();
    ~ExportLock();
    ExportLock(const ExportLock&) = delete;
    ExportLock& operator=(const ExportLock&) = delete;
};

}  // namespace tarvex::platform
