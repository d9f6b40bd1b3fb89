/// \file services.h
/// \brief The foundation's services: progress reports, the log file, the configuration and
///        application folders, thread counts for parallel loops, critical sections, exit
///        callbacks and the current resource handle.
///
/// The application profile lives in profile.h and the message boxes in messages.h; both are
/// included here so that one include gives every service.
///
/// Where values live: the configuration folder is `$ZAN3D_CONFIG_DIR` when it is set and not
/// empty, else `$XDG_CONFIG_HOME/3dzan` when that is an absolute path, else
/// `$HOME/.config/3dzan` (the password database's home when `HOME` is unset). It holds the
/// log file `3dzan.log`, the profile `profile.ini` and the preferences file. Reading never
/// creates the folder; the first write creates it (and missing parents) with mode 0700.
#pragma once

#include <3dzan/foundation/messages.h>
#include <3dzan/foundation/profile.h>
#include <3dzan/foundation/xstring.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <mutex>

// ------------------------------------------------------------------------------ progress

/// \brief Event codes of progressCallCallback.
///
/// A task sends kProgressStart once, then kProgressRange, then any number of
/// kProgressPosition and kProgressCheckStop, and kProgressEnd once, always from the same
/// ProcessProgressInfo. kProgressCheckStop is kProgressPosition with kProgressAskStopBit.
enum _ProgressEvent : int
{
    kProgressPosition = 2,    ///< the position changed
    kProgressRange = 4,       ///< the range (low, high) is set or changed
    kProgressStart = 9,       ///< a task starts; title and status are filled
    kProgressAskStopBit = 16, ///< the task asks whether the user stopped it
    kProgressCheckStop = 18,  ///< position, and a question: does the user stop the task?
    kProgressEnd = 32         ///< the task ends (also after a stop)
};

/// \brief What a task tells the host about itself; filled by the task, read by the handler.
struct ZAN_API ProcessProgressInfo
{
    int64_t m_Position = 0;     ///< current position, normally within [m_RangeLow, m_RangeHigh]
    int64_t m_RangeLow = 0;     ///< position of 0 %
    int64_t m_RangeHigh = 100;  ///< position of 100 %
    CXTString m_Status;         ///< what the task is doing now ("Merging confused points")
    CXTString m_Title;          ///< title of the task ("Merging...")
    void* m_UserData = nullptr; ///< free for the task (the object it works on, for example)
    /// \brief Set once the user asked to stop: by progressCallCallback when the handler
    ///        answers true to kProgressCheckStop, or by the handler itself. Never cleared by
    ///        the library.
    bool m_Stop = false;

    /// \brief The position as a percentage of the range, clamped to [0, 100]; 0 for an
    ///        empty range.
    int GetPercent() const;
};

/// \brief A host's progress handler.
/// \param event one of _ProgressEvent.
/// \param info the task's information; valid during the call only.
/// \param userData the pointer given to progressSetCallback.
/// \return for kProgressCheckStop, true when the user asked to stop; ignored otherwise.
using ProgressHandler = bool (*)(int event, ProcessProgressInfo* info, void* userData);

/// \brief Installs the host's progress handler (null removes it).
///
/// Handlers are called one at a time, under a process-wide recursive lock, on whichever thread
/// reports: a task that polls from worker threads calls the handler from those threads. A
/// handler may itself report progress or install another handler (the lock is recursive), but
/// must not wait for another thread that reports progress.
/// \param previousUserData when not null, receives the user data of the previous handler.
/// \return the previous handler, so that a caller can restore it.
ZAN_API ProgressHandler progressSetCallback(ProgressHandler handler, void* userData,
                                            void** previousUserData = nullptr);

/// \brief Reports \p event of a task to the host's handler.
/// \return true when the task must stop: the handler answered true to kProgressCheckStop
///         (info->m_Stop is then set) or info->m_Stop was already set. False, with nothing
///         called, when no handler is installed or \p info is null.
ZAN_API bool progressCallCallback(int event, ProcessProgressInfo* info);

/// \brief One task's progress, for library code: start on construction, end on destruction.
///
/// Position reports are throttled: SetPosition and CheckStop call the host only when the
/// integer percentage rises above the last one they reported, so a loop of a million steps
/// calls the host about a hundred times. CheckStop also asks at least once every
/// kCheckStopEvery calls, so that a task without a usable range can still be stopped.
/// Positions that go back are not reported until they pass the last reported percentage;
/// SetRange starts counting again.
///
/// SetPosition, CheckStop and Advance may be called from several threads at once (a parallel
/// loop); the constructor, SetRange, SetStatus and the destructor belong to the thread that
/// owns the task. Once the host answered stop, every later CheckStop and Advance returns true
/// at once without calling the host.
class ZAN_API CProgressTask
{
public:
    /// How many unreported CheckStop calls force a question to the host.
    static constexpr uint32_t kCheckStopEvery = 65536;

    /// \brief Starts a task: fills title and status and sends kProgressStart.
    explicit CProgressTask(const char* title, const char* status = nullptr,
                           void* userData = nullptr);
    /// \brief Sends kProgressEnd.
    ~CProgressTask();
    CProgressTask(const CProgressTask&) = delete;
    CProgressTask& operator=(const CProgressTask&) = delete;

    /// \brief Sets the range and sends kProgressRange; the position goes to \p low.
    void SetRange(int64_t low, int64_t high);
    /// \brief Changes the status text and sends kProgressPosition at the current position.
    void SetStatus(const char* status);
    /// \brief Moves to \p position; sends kProgressPosition when the percentage rose.
    void SetPosition(int64_t position);
    /// \brief Moves to \p position and asks the host whether to stop (kProgressCheckStop)
    ///        when the percentage rose or kCheckStopEvery calls went by.
    /// \return true when the task must stop; stays true afterwards.
    bool CheckStop(int64_t position);
    /// \brief Counts \p count more items done (from any thread) and calls CheckStop with
    ///        the count done so far, measured from the range's low end.
    bool Advance(int64_t count = 1);
    /// \brief Whether the host asked to stop.
    bool IsStopped() const { return m_Stopped.load(std::memory_order_acquire); }

    /// \brief The information handed to the host. Read it from the owning thread only
    ///        while no worker reports.
    const ProcessProgressInfo& GetInfo() const { return m_Info; }

private:
    bool Report(int event, int64_t position, std::atomic<int>& lastPercent);

    ProcessProgressInfo m_Info;
    std::atomic<bool> m_Stopped{false};
    std::atomic<int> m_LastPositionPercent{-1};
    std::atomic<int> m_LastStopPercent{-1};
    std::atomic<uint32_t> m_CallsSinceAsk{0};
    std::atomic<int64_t> m_Done{0};
    std::atomic<int64_t> m_RangeLow{0};
    std::atomic<int64_t> m_RangeHigh{100};
    bool m_InHandler = false; // under the progress lock
};

// ------------------------------------------------------------------------------------ log

/// \brief Appends a printf-style text to the log file `3dzan.log` of the configuration
///        folder.
///
/// Each line of the text gets the calling thread's indentation (four blanks per CLogIndent
/// level); a text that does not end with a newline is ended with one, so lines of different
/// threads never mix. The text of one call is written with one system call under a lock,
/// and reaches the file before the call returns (a crash keeps it). One call writes at most
/// kLogMaxText bytes of text; the rest is cut and marked with "...". Failures (no folder,
/// disk full) are ignored: the log never stops the library.
ZAN_API void WriteToLogFile(const char* format, ...) __attribute__((format(printf, 1, 2)));
/// \brief WriteToLogFile with a va_list.
ZAN_API void WriteToLogFileV(const char* format, va_list args);

/// Longest text one WriteToLogFile call writes, in bytes.
constexpr size_t kLogMaxText = 64 * 1024;

/// \brief Indents the calling thread's log lines one more level while it lives.
///
/// Indentation is per thread: a worker thread's lines are not indented by a scope of the
/// thread that started it. Scopes nest; levels past 32 are not indented further.
class ZAN_API CLogIndent
{
public:
    CLogIndent();
    ~CLogIndent();
    CLogIndent(const CLogIndent&) = delete;
    CLogIndent& operator=(const CLogIndent&) = delete;

    /// \brief The calling thread's current level.
    static int GetLevel();
};

/// \brief The log file's path (configuration folder followed by `3dzan.log`); empty when no
///        configuration folder can be found.
ZAN_API CXTString GetLogFilePath();
/// \brief Empties the log file (it is created when missing). False when it cannot.
ZAN_API bool ClearLogFile();
/// \brief Turns writing to the log on or off for the whole process (on by default).
ZAN_API void SetLogEnabled(bool enabled);
ZAN_API bool IsLogEnabled();

/// \brief Milliseconds on a steady clock (never goes back); differences of two readings
///        time an operation for the log.
ZAN_API uint64_t timeGetTick();

// -------------------------------------------------------------------------------- folders

/// \brief The configuration folder followed by '/'; empty when none can be found. Never
///        creates it. Read from the environment at each call.
ZAN_API CXTString GetConfigDirectory();
/// \brief Creates the configuration folder (and missing parents) with mode 0700.
/// \return true when the folder exists afterwards.
ZAN_API bool CreateConfigDirectory();
/// \brief The user preferences folder followed by '/': the configuration folder.
ZAN_API CXTString GetUserPreferencesPath();
/// \brief The folder of the running program, followed by '/'; empty when unknown.
ZAN_API CXTString GetApplicationPath();
/// \brief The folder of the 3DZan library file itself, followed by '/' (`plugins/` and
///        `resources/` sit next to it); empty when unknown.
ZAN_API CXTString GetLibraryPath();

/// \brief Whether the library may read and write its preferences file (true by default).
ZAN_API bool IsPreferencesSavingEnabled();
/// \brief Allows or forbids reading and writing the preferences file, for the process.
ZAN_API void EnablePreferencesSaving(bool enable);

// ------------------------------------------------------------------------ parallel loops

/// Upper bound of OMPGetMaxThreadCount, whatever the environment says.
constexpr int kMaxThreadCount = 1024;

/// \brief The number of threads of the library's parallel loops.
///
/// The value set with OMPSetMaxThreadCount, else `ZAN3D_THREADS` when it is a positive
/// decimal integer (surrounding blanks allowed), else the hardware's concurrency; at least 1
/// and at most kMaxThreadCount. Zero, negative or unreadable values of `ZAN3D_THREADS` are
/// ignored.
ZAN_API int OMPGetMaxThreadCount();
/// \brief Forces the thread count (clamped to kMaxThreadCount); 0 or less goes back to the
///        environment and the hardware.
ZAN_API void OMPSetMaxThreadCount(int threadCount);
/// \brief Chunk size for a dynamic schedule over \p itemCount items.
///
/// `max(1, itemCount / (8 * OMPGetMaxThreadCount()))`: each thread gets about eight chunks,
/// enough to even out items of unequal cost while keeping the scheduling overhead small.
/// 1 when the count is unknown (0) or negative: one item per iteration, the right choice
/// for loops over whole objects.
ZAN_API int OMPGetScheduleChunkSize(int itemCount = 0);
/// \brief Runs \p body(i) for every i in [0, \p count) on up to \p threadCount threads
///        (0: OMPGetMaxThreadCount()), handing out \p chunk consecutive items at a time
///        (0: OMPGetScheduleChunkSize(count)) to whichever thread is free.
///
/// The calling thread takes part. Runs on the caller's thread alone when one thread is asked
/// for or there is at most one chunk. An exception escaping \p body stops the hand-out of
/// further chunks; once every thread has finished, the first such exception is rethrown on
/// the caller's thread.
ZAN_API void ZanParallelFor(int count, const std::function<void(int)>& body, int threadCount = 0,
                            int chunk = 0);

// ------------------------------------------------------------------------- critical sections

/// \brief A recursive lock: the thread that holds it may lock it again.
class ZAN_API CXCriticalSection
{
public:
    CXCriticalSection();
    ~CXCriticalSection();
    CXCriticalSection(const CXCriticalSection&) = delete;
    CXCriticalSection& operator=(const CXCriticalSection&) = delete;

    /// \brief Waits for the lock and takes it. Always true.
    bool Lock();
    /// \brief Releases one level of the calling thread's hold. Always true.
    bool Unlock();
    /// \brief Takes the lock when no other thread holds it; false otherwise.
    bool TryLock();

private:
    std::recursive_mutex m_Mutex;
};

/// \brief Holds a CXCriticalSection for its lifetime or between Lock and Unlock.
///
/// One object holds at most one level of the section: Lock on a locked object and Unlock on
/// an unlocked one do nothing. The destructor releases a held lock. A null section is
/// accepted: nothing is ever locked.
class ZAN_API CXSingleLock
{
public:
    explicit CXSingleLock(CXCriticalSection* section, bool lockNow = false);
    ~CXSingleLock();
    CXSingleLock(const CXSingleLock&) = delete;
    CXSingleLock& operator=(const CXSingleLock&) = delete;

    /// \brief Takes the section; true when it is held afterwards (false for a null section).
    bool Lock();
    /// \brief Releases the section; false when this object did not hold it.
    bool Unlock();
    bool IsLocked() const { return m_Locked; }

private:
    CXCriticalSection* m_Section;
    bool m_Locked = false;
};

// ---------------------------------------------------------------------- exit callbacks

/// \brief A routine to run when the application exits.
using ApplicationExitCallback = void (*)(void* data);

/// \brief Registers \p callback to run once at process exit (or at RunApplicationExitCallbacks).
///
/// Callbacks run in the reverse order of registration, on the exiting thread. A callback may
/// register or remove others while they run. Exceptions leaving a callback are caught and
/// logged.
/// \return an id for RemoveApplicationExitCallback, never 0; 0 when \p callback is null.
ZAN_API unsigned AddApplicationExitCallback(ApplicationExitCallback callback, void* data);
/// \brief Unregisters a callback that has not run. False when the id is unknown.
ZAN_API bool RemoveApplicationExitCallback(unsigned id);
/// \brief Runs the registered callbacks now, newest first; the list is empty afterwards.
ZAN_API void RunApplicationExitCallbacks();
/// \brief Number of callbacks waiting to run.
ZAN_API int GetApplicationExitCallbackNbr();

// ---------------------------------------------------------------------- resource handle

/// \brief The calling thread's current resource handle (an opaque module handle); null,
///        meaning the application's own resources, until a CUseResourceHandle sets one.
ZAN_API void* ZanGetResourceHandle();

/// \brief Makes a resource handle current on the calling thread while it lives, and
///        restores the previous one on destruction. Scopes nest.
class ZAN_API CUseResourceHandle
{
public:
    explicit CUseResourceHandle(void* handle);
    ~CUseResourceHandle();
    CUseResourceHandle(const CUseResourceHandle&) = delete;
    CUseResourceHandle& operator=(const CUseResourceHandle&) = delete;

private:
    void* m_Previous;
};
