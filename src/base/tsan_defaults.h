#pragma once
// ThreadSanitizer builds only. Include in exactly one file of each executable: the program's
// app/tsan_qt_locks.cpp (a file of its own, so that what the core calls of it is known by name),
// the tests' main.
//
// 1. Built-in options: Qt's suppressions and "a race fails the run" (exit code 66), so the tests,
//    the program they start and a hand-run program all use them; TSAN_OPTIONS still adds to them.
// 2. Qt is not built with the sanitizer, so its locks are invisible to it: QMutex::lock/unlock run
//    inside libQt5Core, and every QMutexLocker-guarded section would show as a race. The program's
//    executable defines these functions itself, calls Qt's own and tells the sanitizer about the
//    acquire and release on the lock's address (the same address the inline fast paths use).
// 3. Events and queued calls a worker hands to the GUI thread pass through Qt's post queue, whose
//    lock is inside Qt too: posting (our calls into Qt) releases, and an application event filter
//    acquires before the GUI thread handles any event. Call vyr_tsan::orderPostedEvents()
//    (base/tsan_order.h) after the other application event filters are installed (again after
//    installing one later).
#include "base/tsan_order.h"

#ifdef VYR_TSAN
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <QMutex>
#include <QSemaphore>
#include <QWaitCondition>

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

extern "C" const char* __tsan_default_options()
{
    // The longest access history: a suppression can only match the earlier access of a race when
    // its stack is still in the history; with the default one a suppressed race in Qt's post queue
    // is now and then reported with "failed to restore the stack".
    return "suppressions=" VYR_TSAN_SUPPRESSIONS ":halt_on_error=0:exitcode=66:second_deadlock_stack=1:history_size=7";
}

extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);

namespace vyr_tsan {
template <typename F>
F qtFunction(const char* name)
{
    void* f = dlvsym(RTLD_NEXT, name, "Qt_5");
    if (!f)
        f = dlsym(RTLD_NEXT, name);
    if (!f) {
        std::fprintf(stderr, "tsan: %s not found in Qt\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(f);
}
}

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = vyr_tsan::qtFunction<void (*)(QMutex*)>("_ZN6QMutex4lockEv");
    real(this);
    __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = vyr_tsan::qtFunction<bool (*)(QMutex*, int)>("_ZN6QMutex7tryLockEi");
    const bool locked = real(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    static const auto real = vyr_tsan::qtFunction<void (*)(QMutex*)>("_ZN6QMutex6unlockEv");
    __tsan_release(this);
    real(this);
}

void QBasicMutex::lockInternal() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = vyr_tsan::qtFunction<void (*)(QBasicMutex*)>("_ZN11QBasicMutex12lockInternalEv");
    real(this);
    __tsan_acquire(this);
}

bool QBasicMutex::lockInternal(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = vyr_tsan::qtFunction<bool (*)(QBasicMutex*, int)>("_ZN11QBasicMutex12lockInternalEi");
    const bool locked = real(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QBasicMutex::unlockInternal() noexcept
{
    static const auto real = vyr_tsan::qtFunction<void (*)(QBasicMutex*)>("_ZN11QBasicMutex14unlockInternalEv");
    __tsan_release(this);
    real(this);
}

bool QWaitCondition::wait(QMutex* mutex, unsigned long time)
{
    static const auto real =
        vyr_tsan::qtFunction<bool (*)(QWaitCondition*, QMutex*, unsigned long)>("_ZN14QWaitCondition4waitEP6QMutexm");
    __tsan_release(mutex);
    const bool woken = real(this, mutex, time);
    __tsan_acquire(mutex);
    __tsan_acquire(this);
    return woken;
}

bool QWaitCondition::wait(QMutex* mutex, QDeadlineTimer deadline)
{
    static const auto real = vyr_tsan::qtFunction<bool (*)(QWaitCondition*, QMutex*, QDeadlineTimer)>(
        "_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    __tsan_release(mutex);
    const bool woken = real(this, mutex, deadline);
    __tsan_acquire(mutex);
    __tsan_acquire(this);
    return woken;
}

void QWaitCondition::wakeOne()
{
    static const auto real = vyr_tsan::qtFunction<void (*)(QWaitCondition*)>("_ZN14QWaitCondition7wakeOneEv");
    __tsan_release(this);
    real(this);
}

void QWaitCondition::wakeAll()
{
    static const auto real = vyr_tsan::qtFunction<void (*)(QWaitCondition*)>("_ZN14QWaitCondition7wakeAllEv");
    __tsan_release(this);
    real(this);
}

void QSemaphore::acquire(int n)
{
    static const auto real = vyr_tsan::qtFunction<void (*)(QSemaphore*, int)>("_ZN10QSemaphore7acquireEi");
    real(this, n);
    __tsan_acquire(this);
}

bool QSemaphore::tryAcquire(int n)
{
    static const auto real = vyr_tsan::qtFunction<bool (*)(QSemaphore*, int)>("_ZN10QSemaphore10tryAcquireEi");
    const bool got = real(this, n);
    if (got)
        __tsan_acquire(this);
    return got;
}

bool QSemaphore::tryAcquire(int n, int timeout)
{
    static const auto real = vyr_tsan::qtFunction<bool (*)(QSemaphore*, int, int)>("_ZN10QSemaphore10tryAcquireEii");
    const bool got = real(this, n, timeout);
    if (got)
        __tsan_acquire(this);
    return got;
}

void QSemaphore::release(int n)
{
    static const auto real = vyr_tsan::qtFunction<void (*)(QSemaphore*, int)>("_ZN10QSemaphore7releaseEi");
    __tsan_release(this);
    real(this, n);
}

namespace vyr_tsan {
inline char queuedToken; // signals emitted into queued connections, receivers unknown here

class PostedEventOrder : public QObject {
public:
    bool eventFilter(QObject* receiver, QEvent*) override
    {
        __tsan_acquire(receiver);
        __tsan_acquire(&queuedToken);
        return false;
    }
};

void orderPostedEvents()
{
    static PostedEventOrder* filter = new PostedEventOrder;
    QCoreApplication::instance()->installEventFilter(filter);
}
}

bool QMetaObject::invokeMethodImpl(QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type, void* ret)
{
    static const auto real = vyr_tsan::qtFunction<bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*)>(
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    __tsan_release(object);
    return real(object, slot, type, ret);
}

void QMetaObject::activate(QObject* sender, const QMetaObject* meta, int local, void** argv)
{
    static const auto real = vyr_tsan::qtFunction<void (*)(QObject*, const QMetaObject*, int, void**)>(
        "_ZN11QMetaObject8activateEP7QObjectPKS_iPPv");
    __tsan_release(&vyr_tsan::queuedToken);
    real(sender, meta, local, argv);
}

void QCoreApplication::postEvent(QObject* receiver, QEvent* event, int priority)
{
    static const auto real = vyr_tsan::qtFunction<void (*)(QObject*, QEvent*, int)>(
        "_ZN16QCoreApplication9postEventEP7QObjectP6QEventi");
    __tsan_release(receiver);
    real(receiver, event, priority);
}
#endif
