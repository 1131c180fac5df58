// A worker thread that runs one member function of its owner, and the one
// way it ends: the owner's stop flag set under the owner's lock, the thread
// woken through the event it may be waiting on, then waited for. The owner
// declares it after everything the thread uses and stops it in its
// destructor, so the thread is gone before any of that goes.
#pragma once

#include "handles.h"

#include <windows.h>

class workerthread {
public:
    workerthread() = default;
    workerthread(const workerthread&) = delete;
    workerthread& operator=(const workerthread&) = delete;

    // Runs (owner->*Work)() on a new thread with the stack size and
    // CreateThread flags given. False when the thread could not be started.
    template <typename Owner, void (Owner::*Work)()>
    bool start(Owner* owner, SIZE_T stack = 0, DWORD flags = 0)
    {
        thread.reset(CreateThread(nullptr, stack, &run<Owner, Work>, owner, flags, nullptr));
        return bool(thread);
    }

    // Sets stopping under lock, sets the event wake (null: none) and waits
    // until the thread has ended. Nothing to wait for when it never started.
    void stop(criticalsection& lock, bool& stopping, HANDLE wake)
    {
        {
            scopedlock hold(lock);
            stopping = true;
        }
        if (wake) SetEvent(wake);
        if (thread) WaitForSingleObject(thread.get(), INFINITE);
        thread.reset();
    }

    // True while a started thread has not been stopped.
    explicit operator bool() const { return bool(thread); }

private:
    template <typename Owner, void (Owner::*Work)()>
    static DWORD WINAPI run(void* owner)
    {
        (static_cast<Owner*>(owner)->*Work)();
        return 0;
    }

    kernelhandle thread;
};
