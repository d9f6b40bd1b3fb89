// The small process-wide services: progress, log, folders, thread counts, locks, exit
// callbacks and the resource handle.
//
// Every piece of shared state here is created on first use and never destroyed: exit
// callbacks and the static destructors of other libraries run in an order nobody controls,
// and they must still be able to log or report progress.
#include <3dzan/foundation/services.h>

#include "posixio.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <exception>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <system_error>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
// ---------------------------------------------------------------- shared helpers

// A folder name with exactly one '/' at the end ("/" stays "/").
std::string WithSlash(std::string folder)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder.empty())
        return folder;
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

// The folder part of a file path, with its '/'; empty when the path has none.
std::string FolderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NonEmptyEnv(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string HomeDirectory()
{
    std::string home = NonEmptyEnv("HOME");
    if (!home.empty() && home[0] == '/')
        return home;
    // Services started without a login environment have no HOME; the account still has one.
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? size_t(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/')
        return found->pw_dir;
    return std::string();
}

std::string ConfigDirectory()
{
    std::string folder = NonEmptyEnv("ZAN3D_CONFIG_DIR");
    if (!folder.empty())
        return WithSlash(folder);
    // A relative XDG_CONFIG_HOME is invalid by the XDG rules and must be ignored.
    folder = NonEmptyEnv("XDG_CONFIG_HOME");
    if (!folder.empty() && folder[0] == '/')
        return WithSlash(folder) + "3dzan/";
    std::string home = HomeDirectory();
    if (home.empty())
        return std::string();
    return WithSlash(home) + ".config/3dzan/";
}

// Creates every missing folder of \p folder with mode 0700.
bool MakeFolders(const std::string& folder)
{
    if (folder.empty())
        return false;
    struct stat info = {};
    if (stat(folder.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode);
    std::string partial;
    size_t start = 0;
    while (start < folder.size())
    {
        size_t slash = folder.find('/', start);
        size_t end = slash == std::string::npos ? folder.size() : slash;
        partial = folder.substr(0, end);
        start = end + 1;
        if (partial.empty() || partial.back() == '/')
            continue;
        if (mkdir(partial.c_str(), 0700) == 0)
        {
            // The umask may have taken bits away; the folder holds the user's own files.
            chmod(partial.c_str(), 0700);
        }
        else if (errno != EEXIST)
            return false;
    }
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// ------------------------------------------------------------------------ progress

struct ProgressState
{
    std::recursive_mutex m_Mutex;
    ProgressHandler m_Handler = nullptr;
    void* m_UserData = nullptr;
};

ProgressState& GetProgressState()
{
    static ProgressState* const state = new ProgressState;
    return *state;
}

int PercentOf(int64_t position, int64_t low, int64_t high)
{
    // In double: the difference of two extreme 64-bit positions overflows an integer.
    double span = double(high) - double(low);
    if (!(span > 0.0))
        return 0;
    double percent = (double(position) - double(low)) * 100.0 / span;
    if (!(percent > 0.0))
        return 0;
    if (percent >= 100.0)
        return 100;
    return int(std::floor(percent));
}

// ----------------------------------------------------------------------------- log

struct LogState
{
    std::mutex m_Mutex;
    std::atomic<bool> m_Enabled{true};
};

LogState& GetLogState()
{
    static LogState* const state = new LogState;
    return *state;
}

thread_local int t_LogLevel = 0;
constexpr int kMaxLogIndent = 32;


// ------------------------------------------------------------------- thread counts

std::atomic<int> g_ThreadCountOverride{0};

// A positive decimal integer with optional blanks around it; 0 when the text is anything
// else. Values beyond kMaxThreadCount come back as kMaxThreadCount.
int ParseThreadCount(const char* text)
{
    if (!text)
        return 0;
    while (*text == ' ' || *text == '\t')
        ++text;
    long long value = 0;
    int digits = 0;
    while (*text >= '0' && *text <= '9')
    {
        value = std::min<long long>(value * 10 + (*text - '0'), kMaxThreadCount + 1LL);
        ++digits;
        ++text;
    }
    while (*text == ' ' || *text == '\t')
        ++text;
    if (digits == 0 || *text != '\0' || value <= 0)
        return 0;
    return int(std::min<long long>(value, kMaxThreadCount));
}

// --------------------------------------------------------------------- exit callbacks

struct ExitEntry
{
    unsigned m_Id;
    ApplicationExitCallback m_Callback;
    void* m_Data;
};

struct ExitState
{
    std::mutex m_Mutex;
    std::vector<ExitEntry> m_Entries;
    unsigned m_NextId = 1;
    bool m_Hooked = false;
};

ExitState& GetExitState()
{
    static ExitState* const state = new ExitState;
    return *state;
}

void RunExitCallbacksAtExit()
{
    RunApplicationExitCallbacks();
}

// -------------------------------------------------------------------- resource handle

thread_local void* t_ResourceHandle = nullptr;

// Any object of the library will do for dladdr to name the file that holds it.
const char kLibraryAnchor = 0;
} // namespace

// ================================================================= progress

int ProcessProgressInfo::GetPercent() const
{
    return PercentOf(m_Position, m_RangeLow, m_RangeHigh);
}

ProgressHandler progressSetCallback(ProgressHandler handler, void* userData,
                                    void** previousUserData)
{
    ProgressState& state = GetProgressState();
    std::lock_guard<std::recursive_mutex> lock(state.m_Mutex);
    ProgressHandler previous = state.m_Handler;
    if (previousUserData)
        *previousUserData = state.m_UserData;
    state.m_Handler = handler;
    state.m_UserData = handler ? userData : nullptr;
    return previous;
}

bool progressCallCallback(int event, ProcessProgressInfo* info)
{
    if (!info)
        return false;
    ProgressState& state = GetProgressState();
    std::lock_guard<std::recursive_mutex> lock(state.m_Mutex);
    if (!state.m_Handler)
        return false;
    bool answer = false;
    try
    {
        answer = state.m_Handler(event, info, state.m_UserData);
    }
    catch (...)
    {
        // Tasks report from worker threads, where an exception would end the process.
        WriteToLogFile("Progress handler failed on event %d; the task goes on\n", event);
    }
    if ((event & kProgressAskStopBit) && answer)
        info->m_Stop = true;
    return info->m_Stop;
}

CProgressTask::CProgressTask(const char* title, const char* status, void* userData)
{
    m_Info.m_Title = title;
    m_Info.m_Status = status;
    m_Info.m_UserData = userData;
    if (progressCallCallback(kProgressStart, &m_Info))
        m_Stopped.store(true, std::memory_order_release);
}

CProgressTask::~CProgressTask()
{
    progressCallCallback(kProgressEnd, &m_Info);
}

void CProgressTask::SetRange(int64_t low, int64_t high)
{
    std::lock_guard<std::recursive_mutex> lock(GetProgressState().m_Mutex);
    m_Info.m_RangeLow = low;
    m_Info.m_RangeHigh = high;
    m_Info.m_Position = low;
    m_RangeLow.store(low, std::memory_order_relaxed);
    m_RangeHigh.store(high, std::memory_order_relaxed);
    m_LastPositionPercent.store(-1, std::memory_order_relaxed);
    m_LastStopPercent.store(-1, std::memory_order_relaxed);
    m_CallsSinceAsk.store(0, std::memory_order_relaxed);
    m_Done.store(0, std::memory_order_relaxed);
    if (progressCallCallback(kProgressRange, &m_Info))
        m_Stopped.store(true, std::memory_order_release);
}

void CProgressTask::SetStatus(const char* status)
{
    std::lock_guard<std::recursive_mutex> lock(GetProgressState().m_Mutex);
    m_Info.m_Status = status;
    if (progressCallCallback(kProgressPosition, &m_Info))
        m_Stopped.store(true, std::memory_order_release);
}

void CProgressTask::SetPosition(int64_t position)
{
    Report(kProgressPosition, position, m_LastPositionPercent);
}

bool CProgressTask::CheckStop(int64_t position)
{
    return Report(kProgressCheckStop, position, m_LastStopPercent);
}

bool CProgressTask::Advance(int64_t count)
{
    int64_t done = m_Done.fetch_add(count, std::memory_order_relaxed) + count;
    return CheckStop(m_RangeLow.load(std::memory_order_relaxed) + done);
}

bool CProgressTask::Report(int event, int64_t position, std::atomic<int>& lastPercent)
{
    const bool ask = (event & kProgressAskStopBit) != 0;
    if (ask && IsStopped())
        return true;
    int percent = PercentOf(position, m_RangeLow.load(std::memory_order_relaxed),
                            m_RangeHigh.load(std::memory_order_relaxed));
    // The fast path: most calls of a long loop change nothing the host would show.
    bool due = percent > lastPercent.load(std::memory_order_relaxed);
    if (!due && ask)
        due = m_CallsSinceAsk.fetch_add(1, std::memory_order_relaxed) + 1 >= kCheckStopEvery;
    if (!due)
        return IsStopped();

    std::lock_guard<std::recursive_mutex> lock(GetProgressState().m_Mutex);
    // A handler that reports on this task again is answered from what is known.
    if ((ask && IsStopped()) || m_InHandler)
        return IsStopped();
    // Another thread may have reported the same step while this one waited.
    bool forced = ask && m_CallsSinceAsk.load(std::memory_order_relaxed) >= kCheckStopEvery;
    int last = lastPercent.load(std::memory_order_relaxed);
    if (percent <= last && !forced)
        return IsStopped();
    if (ask)
        m_CallsSinceAsk.store(0, std::memory_order_relaxed);
    m_Info.m_Position = position;
    m_InHandler = true;
    if (progressCallCallback(event, &m_Info))
        m_Stopped.store(true, std::memory_order_release);
    m_InHandler = false;
    // Raised only now: until the host answered, the other workers of a parallel loop that
    // reach this percentage wait on the lock instead of running past a stop.
    lastPercent.store(std::max(percent, last), std::memory_order_relaxed);
    return IsStopped();
}

// ====================================================================== log

void WriteToLogFile(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteToLogFileV(format, args);
    va_end(args);
}

void WriteToLogFileV(const char* format, va_list args)
{
    LogState& state = GetLogState();
    if (!format || !state.m_Enabled.load(std::memory_order_relaxed))
        return;

    char small[1024];
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (length < 0)
        return;
    std::string text;
    if (size_t(length) < sizeof small)
        text.assign(small, size_t(length));
    else
    {
        size_t kept = std::min(size_t(length), kLogMaxText);
        text.resize(kept + 1);
        std::vsnprintf(text.data(), kept + 1, format, args);
        text.resize(kept);
        if (size_t(length) > kLogMaxText)
        {
            // Do not leave half a UTF-8 sequence before the mark.
            while (!text.empty() && (uint8_t(text.back()) & 0xC0) == 0x80)
                text.pop_back();
            if (!text.empty() && uint8_t(text.back()) >= 0xC0)
                text.pop_back();
            text += "...";
        }
    }

    std::string indent(size_t(std::clamp(t_LogLevel, 0, kMaxLogIndent)) * 4, ' ');
    std::string lines;
    lines.reserve(text.size() + indent.size() * 2 + 1);
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            lines += indent;
        lines.append(text, start, end - start);
        lines += '\n';
        start = end + 1;
    }
    if (lines.empty())
        lines = "\n";

    std::lock_guard<std::mutex> lock(state.m_Mutex);
    CXTString path = GetLogFilePath();
    if (path.IsEmpty() || !CreateConfigDirectory())
        return;
    // Opened for each write: the folder may change between calls (tests move it), and an
    // O_APPEND write of a whole text keeps the lines of two processes apart as well.
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    zan_detail::WriteAll(fd, lines.data(), lines.size());
    ::close(fd);
}

CLogIndent::CLogIndent()
{
    ++t_LogLevel;
}
CLogIndent::~CLogIndent()
{
    --t_LogLevel;
}
int CLogIndent::GetLevel()
{
    return t_LogLevel;
}

CXTString GetLogFilePath()
{
    std::string folder = ConfigDirectory();
    return folder.empty() ? CXTString() : CXTString(folder + "3dzan.log");
}

bool ClearLogFile()
{
    std::lock_guard<std::mutex> lock(GetLogState().m_Mutex);
    CXTString path = GetLogFilePath();
    if (path.IsEmpty() || !CreateConfigDirectory())
        return false;
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

void SetLogEnabled(bool enabled)
{
    GetLogState().m_Enabled.store(enabled);
}
bool IsLogEnabled()
{
    return GetLogState().m_Enabled.load();
}

// ================================================================== folders

CXTString GetConfigDirectory()
{
    return CXTString(ConfigDirectory());
}

bool CreateConfigDirectory()
{
    return MakeFolders(ConfigDirectory());
}

CXTString GetUserPreferencesPath()
{
    return GetConfigDirectory();
}

CXTString GetApplicationPath()
{
    static const std::string folder = []
    {
        std::vector<char> buffer(PATH_MAX);
        for (;;)
        {
            ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
            if (length < 0)
                return std::string();
            if (size_t(length) < buffer.size())
                return FolderOf(std::string(buffer.data(), size_t(length)));
            if (buffer.size() >= 1024 * 1024)
                return std::string();
            buffer.resize(buffer.size() * 2);
        }
    }();
    return CXTString(folder);
}

CXTString GetLibraryPath()
{
    static const std::string folder = []
    {
        Dl_info info{};
        if (!dladdr(&kLibraryAnchor, &info) || !info.dli_fname || !info.dli_fname[0])
            return std::string();
        // The loader keeps the name it was given, which may be relative or a link.
        char* resolved = realpath(info.dli_fname, nullptr);
        std::string path = resolved ? std::string(resolved) : std::string(info.dli_fname);
        std::free(resolved);
        return FolderOf(path);
    }();
    return CXTString(folder);
}

namespace
{
std::atomic<bool> g_PreferencesSaving{true};
}

bool IsPreferencesSavingEnabled()
{
    return g_PreferencesSaving.load();
}
void EnablePreferencesSaving(bool enable)
{
    g_PreferencesSaving.store(enable);
}

uint64_t timeGetTick()
{
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// =========================================================== parallel loops

int OMPGetMaxThreadCount()
{
    int forced = g_ThreadCountOverride.load(std::memory_order_relaxed);
    if (forced > 0)
        return forced;
    int fromEnvironment = ParseThreadCount(std::getenv("ZAN3D_THREADS"));
    if (fromEnvironment > 0)
        return fromEnvironment;
    unsigned hardware = std::thread::hardware_concurrency();
    return int(std::clamp<unsigned>(hardware, 1u, unsigned(kMaxThreadCount)));
}

void OMPSetMaxThreadCount(int threadCount)
{
    g_ThreadCountOverride.store(std::clamp(threadCount, 0, kMaxThreadCount));
}

int OMPGetScheduleChunkSize(int itemCount)
{
    if (itemCount <= 0)
        return 1;
    return std::max(1, itemCount / (8 * OMPGetMaxThreadCount()));
}

void ZanParallelFor(int count, const std::function<void(int)>& body, int threadCount, int chunk)
{
    if (count <= 0)
        return;
    if (threadCount <= 0)
        threadCount = OMPGetMaxThreadCount();
    if (chunk <= 0)
        chunk = OMPGetScheduleChunkSize(count);
    const int chunks = (count + chunk - 1) / chunk;
    threadCount = std::min(threadCount, chunks);
    if (threadCount <= 1)
    {
        for (int i = 0; i < count; ++i)
            body(i);
        return;
    }
    std::atomic<int64_t> next{0}; // 64 bits: the last hand-outs may pass INT_MAX
    std::atomic<bool> failed{false};
    std::exception_ptr firstError;
    std::mutex errorLock;
    auto work = [&] {
        for (;;)
        {
            if (failed.load(std::memory_order_relaxed))
                return;
            const int64_t begin = next.fetch_add(chunk, std::memory_order_relaxed);
            if (begin >= count)
                return;
            const int end = int(std::min<int64_t>(count, begin + chunk));
            try
            {
                for (int i = int(begin); i < end; ++i)
                    body(i);
            }
            catch (...)
            {
                std::lock_guard<std::mutex> guard(errorLock);
                if (!firstError)
                    firstError = std::current_exception();
                failed.store(true, std::memory_order_relaxed);
                return;
            }
        }
    };
    std::vector<std::thread> workers;
    workers.reserve(size_t(threadCount - 1));
    try
    {
        for (int t = 1; t < threadCount; ++t)
            workers.emplace_back(work);
    }
    catch (const std::system_error&)
    {
        // Fewer threads than asked for: the ones started and the caller share the work.
    }
    work();
    for (std::thread& worker : workers)
        worker.join();
    if (firstError)
        std::rethrow_exception(firstError);
}

// ======================================================== critical sections

CXCriticalSection::CXCriticalSection() = default;
CXCriticalSection::~CXCriticalSection() = default;

bool CXCriticalSection::Lock()
{
    m_Mutex.lock();
    return true;
}

bool CXCriticalSection::Unlock()
{
    m_Mutex.unlock();
    return true;
}

bool CXCriticalSection::TryLock()
{
    return m_Mutex.try_lock();
}

CXSingleLock::CXSingleLock(CXCriticalSection* section, bool lockNow) : m_Section(section)
{
    if (lockNow)
        Lock();
}

CXSingleLock::~CXSingleLock()
{
    Unlock();
}

bool CXSingleLock::Lock()
{
    if (!m_Section)
        return false;
    if (!m_Locked)
        m_Locked = m_Section->Lock();
    return m_Locked;
}

bool CXSingleLock::Unlock()
{
    if (!m_Locked)
        return false;
    m_Section->Unlock();
    m_Locked = false;
    return true;
}

// =========================================================== exit callbacks

unsigned AddApplicationExitCallback(ApplicationExitCallback callback, void* data)
{
    if (!callback)
        return 0;
    ExitState& state = GetExitState();
    std::lock_guard<std::mutex> lock(state.m_Mutex);
    if (!state.m_Hooked)
    {
        // Registered from inside the library, the hook also runs when it is unloaded.
        state.m_Hooked = std::atexit(&RunExitCallbacksAtExit) == 0;
    }
    unsigned id = state.m_NextId++;
    if (id == 0)
        id = state.m_NextId++;
    state.m_Entries.push_back({id, callback, data});
    return id;
}

bool RemoveApplicationExitCallback(unsigned id)
{
    ExitState& state = GetExitState();
    std::lock_guard<std::mutex> lock(state.m_Mutex);
    auto found = std::find_if(state.m_Entries.begin(), state.m_Entries.end(),
                              [id](const ExitEntry& entry) { return entry.m_Id == id; });
    if (found == state.m_Entries.end())
        return false;
    state.m_Entries.erase(found);
    return true;
}

void RunApplicationExitCallbacks()
{
    ExitState& state = GetExitState();
    for (;;)
    {
        ExitEntry entry{};
        {
            // Taken off the list before it runs: it runs once even if it registers others
            // or runs the list again itself.
            std::lock_guard<std::mutex> lock(state.m_Mutex);
            if (state.m_Entries.empty())
                return;
            entry = state.m_Entries.back();
            state.m_Entries.pop_back();
        }
        try
        {
            entry.m_Callback(entry.m_Data);
        }
        catch (...)
        {
            WriteToLogFile("Application exit callback %u failed\n", entry.m_Id);
        }
    }
}

int GetApplicationExitCallbackNbr()
{
    ExitState& state = GetExitState();
    std::lock_guard<std::mutex> lock(state.m_Mutex);
    return int(state.m_Entries.size());
}

// ========================================================== resource handle

void* ZanGetResourceHandle()
{
    return t_ResourceHandle;
}

CUseResourceHandle::CUseResourceHandle(void* handle) : m_Previous(t_ResourceHandle)
{
    t_ResourceHandle = handle;
}

CUseResourceHandle::~CUseResourceHandle()
{
    t_ResourceHandle = m_Previous;
}
