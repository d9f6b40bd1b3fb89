// Tests of the foundation services: progress, log, folders, profile, thread counts, locks,
// exit callbacks, resource handle, message boxes.
#include <3dzan/foundation/services.h>

#include "common/zan_test_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using zantest::CScopedEnv;
using zantest::ReadFileText;
using zantest::WriteFileText;

namespace
{
namespace fs = std::filesystem;

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < text.size(); start = end + 1)
    {
        end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// The permission bits of a folder; 0 when it does not exist.
unsigned ModeOf(const std::string& path)
{
    struct stat info = {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? info.st_mode & 0777 : 0;
}

// Every test runs with its own configuration folder and leaves the process-wide services
// as it found them.
class ServicesTest : public ::testing::Test
{
protected:
    ~ServicesTest() override
    {
        progressSetCallback(nullptr, nullptr);
        SetMessagePresenter(nullptr);
        SetLogEnabled(true);
        OMPSetMaxThreadCount(0);
    }
    std::string LogText() const { return m_Config.LogText(); }
    std::string ProfileFile() const { return m_Config.File("profile.ini"); }

    zantest::CTempConfigDir m_Config;
};

// ---------------------------------------------------------------------- progress

struct ProgressEvent
{
    int m_Event;
    int64_t m_Position, m_Low, m_High;
    std::string m_Title, m_Status;
    std::thread::id m_Thread;
};

// A host's handler: records each event and answers stop from a chosen position on.
struct ProgressRecorder
{
    std::vector<ProgressEvent> m_Events;
    int64_t m_StopFrom = INT64_MAX;
    int m_AskNbr = 0;
    // A host answering slowly (a dialog that repaints) widens any window in which workers
    // could run past a question still waiting for its answer.
    bool m_SlowStop = false;

    static bool Handle(int event, ProcessProgressInfo* info, void* userData)
    {
        auto* self = static_cast<ProgressRecorder*>(userData);
        self->m_Events.push_back({event, info->m_Position, info->m_RangeLow, info->m_RangeHigh,
                                  info->m_Title.str(), info->m_Status.str(),
                                  std::this_thread::get_id()});
        self->m_AskNbr += event == kProgressCheckStop;
        bool stop = event == kProgressCheckStop && info->m_Position >= self->m_StopFrom;
        if (stop && self->m_SlowStop)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return stop;
    }
    void Install() { progressSetCallback(&Handle, this); }
    std::vector<int64_t> PositionsOf(int event) const
    {
        std::vector<int64_t> positions;
        for (const ProgressEvent& e : m_Events)
            if (e.m_Event == event)
                positions.push_back(e.m_Position);
        return positions;
    }
};

TEST_F(ServicesTest, ProgressHandlersAreOptionalReplaceableAndMaySetTheStopField)
{
    ProcessProgressInfo info;
    EXPECT_FALSE(progressCallCallback(kProgressCheckStop, &info)) << "no handler";
    ProgressRecorder first, second;
    first.Install();
    void* previousData = nullptr;
    EXPECT_EQ(progressSetCallback(&ProgressRecorder::Handle, &second, &previousData),
              &ProgressRecorder::Handle);
    EXPECT_EQ(previousData, &first);
    EXPECT_FALSE(progressCallCallback(kProgressPosition, &info));
    EXPECT_FALSE(progressCallCallback(kProgressStart, nullptr));
    EXPECT_TRUE(first.m_Events.empty());
    EXPECT_EQ(second.m_Events.size(), 1u);

    progressSetCallback(
        [](int event, ProcessProgressInfo* task, void*)
        {
            task->m_Stop = task->m_Stop || (event == kProgressPosition && task->m_Position >= 30);
            return false;
        },
        nullptr);
    CProgressTask task("Task");
    task.SetRange(0, 100);
    task.SetPosition(10);
    EXPECT_FALSE(task.CheckStop(10));
    task.SetPosition(30);
    EXPECT_TRUE(task.CheckStop(31));
}

TEST_F(ServicesTest, ProgressTaskSendsEventsInOrderAndThrottlesPositions)
{
    ProgressRecorder recorder;
    recorder.Install();
    const int64_t kSteps = 1000000;
    {
        CProgressTask task("Merging...", "Merging coplanar  faces");
        task.SetRange(0, kSteps);
        for (int64_t i = 0; i < kSteps; ++i)
            task.SetPosition(i);
        for (int64_t i = 0; i < kSteps; ++i)
            ASSERT_FALSE(task.CheckStop(i));
    }
    const auto& events = recorder.m_Events;
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front().m_Event, kProgressStart);
    EXPECT_EQ(events.front().m_Title, "Merging...");
    EXPECT_EQ(events.front().m_Status, "Merging coplanar  faces");
    EXPECT_EQ(events[1].m_Event, kProgressRange);
    EXPECT_EQ(events[1].m_High, kSteps);
    EXPECT_EQ(events.back().m_Event, kProgressEnd);
    // Each kind: about one report per percent, each at a higher percent than the one before,
    // positions first and then the stop questions (the loops ran in that order).
    std::vector<int> kinds;
    for (size_t i = 2; i + 1 < events.size(); ++i)
        if (kinds.empty() || kinds.back() != events[i].m_Event)
            kinds.push_back(events[i].m_Event);
    EXPECT_EQ(kinds, (std::vector<int>{kProgressPosition, kProgressCheckStop}));
    for (int event : {kProgressPosition, kProgressCheckStop})
    {
        std::vector<int64_t> positions = recorder.PositionsOf(event);
        EXPECT_GE(positions.size(), 100u);
        EXPECT_LE(positions.size(), 101u);
        std::set<int64_t> percents;
        for (int64_t position : positions)
            percents.insert(position * 100 / kSteps);
        EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
        EXPECT_EQ(percents.size(), positions.size());
    }
}

TEST_F(ServicesTest, ProgressStopIsAnsweredAndStays)
{
    ProgressRecorder recorder;
    recorder.m_StopFrom = 500;
    recorder.Install();
    {
        CProgressTask task("Welding");
        task.SetRange(0, 1000);
        int64_t stoppedAt = 0;
        while (stoppedAt < 1000 && !task.CheckStop(stoppedAt))
            ++stoppedAt;
        // The first question at or past 500 is answered stop; the task stops right there.
        EXPECT_EQ(stoppedAt, 500);
        EXPECT_TRUE(task.IsStopped());
        EXPECT_TRUE(task.GetInfo().m_Stop);
        size_t eventNbr = recorder.m_Events.size();
        EXPECT_TRUE(task.CheckStop(999));
        EXPECT_TRUE(task.Advance());
        EXPECT_EQ(recorder.m_Events.size(), eventNbr) << "a stopped task asks no more";
    }
    EXPECT_EQ(recorder.m_Events.back().m_Event, kProgressEnd);

    // Without a usable range every position is 0 %: a question is still forced now and then.
    CProgressTask task("Scanning");
    recorder.m_StopFrom = INT64_MAX;
    task.SetRange(0, 0);
    ASSERT_FALSE(task.CheckStop(0));
    recorder.m_StopFrom = 0;
    int64_t calls = 0;
    while (!task.CheckStop(calls) && calls < 10 * int64_t(CProgressTask::kCheckStopEvery))
        ++calls;
    EXPECT_TRUE(task.IsStopped());
    EXPECT_LE(calls, int64_t(CProgressTask::kCheckStopEvery));
}

TEST_F(ServicesTest, ProgressStopFromHandlerStopsParallelLoop)
{
    const int64_t kItems = 1000000;
    const int kWorkers = 4;
    ProgressRecorder recorder;
    recorder.m_StopFrom = kItems / 4;
    recorder.m_SlowStop = true;
    recorder.Install();
    std::atomic<int64_t> next{0}, processed{0};
    std::atomic<int> stoppedWorkers{0};
    {
        CProgressTask task("Parallel");
        task.SetRange(0, kItems);
        zantest::RunInThreads(kWorkers,
                              [&](int)
                              {
                                  for (int64_t i; (i = next.fetch_add(1)) < kItems; ++processed)
                                      if (task.CheckStop(i))
                                          return void(++stoppedWorkers);
                              });
        EXPECT_TRUE(task.IsStopped());
    }
    EXPECT_EQ(stoppedWorkers.load(), kWorkers);
    // Workers wait for the answer of a question in progress, so nothing at or past the
    // stopping percentage gets through, and at most one item per worker before it is lost.
    EXPECT_LE(processed.load(), kItems / 4);
    EXPECT_GE(processed.load(), kItems / 4 - kWorkers);
    EXPECT_LT(next.load(), kItems / 2);
    // One question per percent up to the stop, and the few that a long run without a new
    // percentage forces; all from the workers.
    EXPECT_LE(recorder.m_AskNbr, 26 + kItems / 4 / int64_t(CProgressTask::kCheckStopEvery) + 1);
    for (const ProgressEvent& e : recorder.m_Events)
        EXPECT_TRUE(e.m_Event != kProgressCheckStop || e.m_Thread != std::this_thread::get_id());
}

TEST_F(ServicesTest, ProgressAdvanceCountsItemsFromAnyThread)
{
    ProgressRecorder recorder;
    recorder.Install();
    {
        CProgressTask task("Counting");
        task.SetRange(100, 100 + 4000);
        zantest::RunInThreads(4,
                              [&](int)
                              {
                                  for (int i = 0; i < 1000; ++i)
                                      task.Advance();
                              });
    }
    std::vector<int64_t> asked = recorder.PositionsOf(kProgressCheckStop);
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.back(), 4100) << "the last item done reaches 100 %";
    EXPECT_TRUE(std::is_sorted(asked.begin(), asked.end()));
}

// --------------------------------------------------------------------------- log

TEST_F(ServicesTest, LogIndentsPerLineAndThreadCutsHugeTextsAndCanBeDisabled)
{
    WriteToLogFile("C3DScene::Copy time %d ms\n", 12);
    {
        CLogIndent outer;
        WriteToLogFile("inner");
        {
            CLogIndent inner;
            EXPECT_EQ(CLogIndent::GetLevel(), 2);
            WriteToLogFile("deeper %s\nsecond line\n", "first line");
            std::thread([] { WriteToLogFile("from a worker\n"); }).join();
        }
        WriteToLogFile("inner again\n");
    }
    EXPECT_EQ(CLogIndent::GetLevel(), 0);
    WriteToLogFile("outer again\n");
    EXPECT_EQ(GetLogFilePath().str(), m_Config.File("3dzan.log"));
    EXPECT_EQ(LogText(), "C3DScene::Copy time 12 ms\n"
                         "    inner\n"
                         "        deeper first line\n"
                         "        second line\n"
                         "from a worker\n"
                         "    inner again\n"
                         "outer again\n");

    // A huge text is cut; the log can be cleared and turned off.
    ASSERT_TRUE(ClearLogFile());
    WriteToLogFile("%s", std::string(3 * kLogMaxText, 'x').c_str());
    EXPECT_EQ(LogText(), std::string(kLogMaxText, 'x') + "...\n");
    ASSERT_TRUE(ClearLogFile());
    EXPECT_EQ(LogText(), "");
    SetLogEnabled(false);
    EXPECT_FALSE(IsLogEnabled());
    WriteToLogFile("not written\n");
    SetLogEnabled(true);
    WriteToLogFile("written\n");
    EXPECT_EQ(LogText(), "written\n");
}

TEST_F(ServicesTest, LogLinesOfSeveralThreadsDoNotMix)
{
    const int kThreads = 8, kLines = 300;
    zantest::RunInThreads(kThreads,
                          [](int t)
                          {
                              std::string payload(200, char('a' + t));
                              CLogIndent indent; // every thread one level in
                              for (int l = 0; l < kLines; ++l)
                                  WriteToLogFile("thread %d line %d %s\n", t, l, payload.c_str());
                          });

    std::vector<std::string> lines = SplitLines(LogText());
    ASSERT_EQ(lines.size(), size_t(kThreads * kLines));
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : lines)
    {
        int t = -1, l = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "    thread %d line %d", &t, &l), 2) << line;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        EXPECT_EQ(l, next[size_t(t)]++) << "each thread's lines in order";
        EXPECT_EQ(line, "    thread " + std::to_string(t) + " line " + std::to_string(l) + " " +
                            std::string(200, char('a' + t)));
    }
}

// ------------------------------------------------------------------------ folders

TEST(ServicesFolders, ConfigApplicationAndLibraryFolders)
{
    // Only names are computed here: nothing is written, so no real folder is touched.
    CScopedEnv zan("ZAN3D_CONFIG_DIR", "/srv/zan//");
    CScopedEnv xdg("XDG_CONFIG_HOME", "/xdg/config");
    CScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(GetConfigDirectory().str(), "/srv/zan/");
    EXPECT_EQ(GetUserPreferencesPath().str(), "/srv/zan/");
    EXPECT_EQ(GetProfilePath().str(), "/srv/zan/profile.ini");
    EXPECT_EQ(GetLogFilePath().str(), "/srv/zan/3dzan.log");
    const std::pair<std::function<void()>, const char*> steps[] = {
        {[&] { zan.Set(std::string()); }, "/xdg/config/3dzan/"}, // empty means unset
        {[&] { zan.Set(std::nullopt); }, "/xdg/config/3dzan/"},
        {[&] { xdg.Set(std::string("relative/config")); }, "/home/someone/.config/3dzan/"},
        {[&] { xdg.Set(std::nullopt); }, "/home/someone/.config/3dzan/"}};
    for (const auto& [step, expected] : steps)
    {
        step();
        EXPECT_EQ(GetConfigDirectory().str(), expected);
    }
    // Without HOME, the account's home from the password database.
    home.Set(std::nullopt);
    std::string fallback = GetConfigDirectory().str();
    EXPECT_TRUE(fallback.empty() || (fallback[0] == '/' && fallback.ends_with("/.config/3dzan/")))
        << fallback;

    // The program's and the library's folders.
    std::string application = GetApplicationPath().str(), library = GetLibraryPath().str();
    EXPECT_TRUE(fs::is_regular_file(application + program_invocation_short_name)) << application;
    EXPECT_TRUE(fs::exists(library + "lib3dzan.so")) << library;
}

TEST_F(ServicesTest, ReadingCreatesNothingAndWritingMakesThePrivateFolderWithoutLeftovers)
{
    const std::string logFolder = m_Config.File("log/3dzan"), folder = m_Config.File("not/yet");
    {
        CScopedEnv env("ZAN3D_CONFIG_DIR", logFolder);
        WriteToLogFile("first\n");
        EXPECT_EQ(ModeOf(logFolder), 0700u);
        EXPECT_EQ(ReadFileText(logFolder + "/3dzan.log"), "first\n");
    }
    CScopedEnv env("ZAN3D_CONFIG_DIR", folder);
    EXPECT_EQ(GetProfileInt("Render", "version", 1), 1);
    EXPECT_FALSE(HasProfileValue("Render", "version"));
    EXPECT_FALSE(fs::exists(m_Config.File("not")));
    ASSERT_TRUE(WriteProfileInt("Render", "version", 4));
    ASSERT_TRUE(WriteProfileInt("Render", "version", 5));
    EXPECT_EQ(ModeOf(folder), 0700u);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"profile.ini"});
}

// ------------------------------------------------------------------------ profile

TEST_F(ServicesTest, ProfileRoundTripOfEveryKindAcrossSections)
{
    const char* kText = "two\nlines, a tab\there, a backslash \\n, \"quotes\" = [x] ; # été";
    const std::pair<const char*, const char*> strings[] = {{"text", kText},
                                                           {"blanks", "  both ends\t"},
                                                           {"quoted", "\"already quoted\""},
                                                           {"empty", ""},
                                                           {"control", "bell\a nul-free"}};
    ASSERT_TRUE(WriteProfileLongUInt("Render", "backgroundcolor", 0x808080));
    ASSERT_TRUE(WriteProfileLongUInt("Render", "glpixelformat", 0xFFFFFFFFu));
    ASSERT_TRUE(WriteProfileUInt64("Render", "viewmode", 0x170000E14ull));
    ASSERT_TRUE(WriteProfileUInt64("Render", "max", UINT64_MAX));
    ASSERT_TRUE(WriteProfileInt("Other", "min", INT_MIN));
    ASSERT_TRUE(WriteProfileInt("Other", "max", INT_MAX));
    for (const auto& [key, value] : strings)
        ASSERT_TRUE(WriteProfileString("Third", key, value));

    // Once from the cache, once from the file, once after the folder went away and back.
    for (int pass = 0; pass < 3; ++pass)
    {
        SCOPED_TRACE(pass);
        if (pass == 1)
            ReloadProfile();
        if (pass == 2)
        {
            zantest::CTempDir elsewhere;
            CScopedEnv env("ZAN3D_CONFIG_DIR", elsewhere.Path());
            EXPECT_EQ(GetProfileLongUInt("Render", "backgroundcolor", 7), 7u);
        }
        EXPECT_EQ(GetProfileLongUInt("Render", "backgroundcolor", 0), 0x808080u);
        EXPECT_EQ(GetProfileLongUInt("Render", "glpixelformat", 0), 0xFFFFFFFFu);
        EXPECT_EQ(GetProfileUInt64("Render", "viewmode", 0), 0x170000E14ull);
        EXPECT_EQ(GetProfileUInt64("Render", "max", 0), UINT64_MAX);
        EXPECT_EQ(GetProfileInt("Other", "min", 0), INT_MIN);
        EXPECT_EQ(GetProfileInt("Other", "max", 0), INT_MAX);
        for (const auto& [key, value] : strings)
            EXPECT_EQ(GetProfileString("Third", key, "default").str(), value);
        EXPECT_EQ(GetProfileInt("Render", "min", 42), 42) << "same key, another section";
    }
    // One line per value: a string's newline must not start a line of its own.
    EXPECT_EQ(SplitLines(ReadFileText(ProfileFile())).size(), 3u + 11u + 2u);
}

TEST_F(ServicesTest, ProfileValuesThatDoNotParseGiveTheDefault)
{
    ASSERT_TRUE(WriteFileText(ProfileFile(), "[S]\nword=abc\nnegative=-1\nbig=4294967296\n"
                                             "hex = 0x1F \nintbig=2147483648\ntrailing=12abc\n"
                                             "u64big=18446744073709551616\noctal=010\nempty=\n"));
    // Each value read as unsigned, int and 64-bit unsigned, with 9 as the default.
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"word", "9 9 9"},     {"negative", "9 -1 9"}, {"big", "9 9 4294967296"}, {"hex", "31 31 31"},
        {"intbig", "2147483648 9 2147483648"}, {"trailing", "9 9 9"}, {"u64big", "9 9 9"},
        {"octal", "10 10 10"}, {"empty", "9 9 9"},     {"missing", "9 9 9"}};
    // clang-format on
    for (const auto& [key, expected] : cases)
        EXPECT_EQ(std::to_string(GetProfileLongUInt("S", key, 9)) + " " +
                      std::to_string(GetProfileInt("S", key, 9)) + " " +
                      std::to_string(GetProfileUInt64("S", key, 9)),
                  expected)
            << key;
    EXPECT_EQ(GetProfileString("S", "word", "").str(), "abc");
    EXPECT_EQ(GetProfileString("S", "missing", "fallback").str(), "fallback");
    EXPECT_EQ(GetProfileString("Missing", "word", nullptr).str(), "");
}

TEST_F(ServicesTest, ProfilesThatCannotBeUsedAreIgnoredAndReplacedOnlyByAWrite)
{
    std::mt19937 random(1234);
    std::vector<uint8_t> garbage(50000);
    for (uint8_t& byte : garbage)
        byte = uint8_t(random());
    // Something that would read as a value if the garbage were taken for text.
    const char kLooksValid[] = "\n[Render]\nviewmode=5\n";
    garbage.insert(garbage.begin() + 100, kLooksValid, kLooksValid + sizeof kLooksValid - 1);
    garbage[10] = 0;
    ASSERT_TRUE(zantest::WriteFileBytes(ProfileFile(), garbage));
    EXPECT_EQ(GetProfileUInt64("Render", "viewmode", 0x70000E14), 0x70000E14u);
    ReloadProfile();
    EXPECT_FALSE(HasProfileValue("Render", "viewmode"));
    EXPECT_EQ(zantest::ReadFileBytes(ProfileFile()), garbage) << "reading never rewrites it";
    ASSERT_TRUE(WriteProfileLongUInt("Render", "lowres", 256));
    EXPECT_EQ(ReadFileText(ProfileFile()), "[Render]\nlowres=256\n");

    std::string text = "[Render]\nlowres=128\n";
    while (text.size() <= kProfileMaxFileSize)
        text += "; " + std::string(1000, '-') + "\n";
    ASSERT_TRUE(WriteFileText(ProfileFile(), text));
    EXPECT_EQ(GetProfileLongUInt("Render", "lowres", 512), 512u);
    EXPECT_EQ(ReadFileText(ProfileFile()), text);

    // A profile that cannot be read at all is never replaced.
    ASSERT_TRUE(fs::remove(ProfileFile()));
    ASSERT_TRUE(fs::create_directory(ProfileFile()));
    ASSERT_TRUE(WriteFileText(ProfileFile() + "/inside", "keep"));
    EXPECT_EQ(GetProfileInt("Render", "version", 3), 3);
    EXPECT_FALSE(WriteProfileInt("Render", "version", 4));
    EXPECT_FALSE(DeleteProfileValue("Render", "version"));
    EXPECT_EQ(ReadFileText(ProfileFile() + "/inside"), "keep");
    // The failure is told once in the log, not once per call.
    std::string log = LogText();
    size_t first = log.find("cannot be read");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(log.find("cannot be read", first + 1), std::string::npos);
}

TEST_F(ServicesTest, ProfileLinesThatCannotBeReadAreSkippedOneByOne)
{
    std::string text = "orphan=1\n" // before any section
                       "[Render]\n"
                       "lowres=512\n"
                       "no equal sign here\n"
                       "=no key\n"
                       "control\x01key=3\n"
                       "long=" +
                       std::string(200000, '7') +
                       "\n"
                       "alphacut = 0\r\n" // Windows line end, blanks
                       "[Broken\n"
                       "lost=1\n" // under the broken header
                       "[ Other ]\n"
                       "; a comment\n"
                       "name=value\n"
                       "name=last wins\n"
                       "[render]\n"
                       "glsettings=1\n"; // same section again
    ASSERT_TRUE(WriteFileText(ProfileFile(), text));
    // Read once as written, and once more after a write, which keeps every readable value.
    for (int pass = 0; pass < 2; ++pass)
    {
        EXPECT_EQ(GetProfileLongUInt("Render", "lowres", 0), 512u);
        EXPECT_EQ(GetProfileLongUInt("Render", "alphacut", 1), 0u);
        EXPECT_EQ(GetProfileLongUInt("Render", "glsettings", 0), 1u);
        EXPECT_EQ(GetProfileString("Other", "name", "").str(), "last wins");
        for (const char* lost : {"long", "lost", "no equal sign here", "orphan"})
            EXPECT_FALSE(HasProfileValue("Render", lost)) << lost;
        EXPECT_FALSE(HasProfileValue("Broken", "lost"));
        if (pass == 0)
        {
            EXPECT_EQ(ReadFileText(ProfileFile()), text);
            ASSERT_TRUE(WriteProfileInt("Render", "version", 4));
            ReloadProfile();
        }
    }
    EXPECT_EQ(GetProfileInt("Render", "version", 0), 4);
    EXPECT_EQ(ReadFileText(ProfileFile()).find("777777"), std::string::npos);
}

TEST_F(ServicesTest, ProfileWithManyEntriesKeepsEveryOne)
{
    std::string text = "[Big]\n";
    for (int k = 0; k < 60000; ++k)
        text += "key" + std::to_string(k) + "=" + std::to_string(k * 7) + "\n";
    for (int k = 0; k < 10000; ++k)
        text += "[Section" + std::to_string(k) + "]\nv=" + std::to_string(k) + "\n";
    ASSERT_LT(text.size(), kProfileMaxFileSize);
    ASSERT_TRUE(WriteFileText(ProfileFile(), text));
    for (int k : {0, 1, 34567, 59999})
        EXPECT_EQ(GetProfileInt("big", ("KEY" + std::to_string(k)).c_str(), -1), k * 7);
    EXPECT_EQ(GetProfileInt("Section9999", "v", -1), 9999);
    ASSERT_TRUE(WriteProfileInt("Big", "key0", -3));
    ReloadProfile();
    EXPECT_EQ(GetProfileInt("Big", "key0", 0), -3);
    EXPECT_EQ(GetProfileInt("Big", "key59999", 0), 59999 * 7);
    EXPECT_EQ(GetProfileInt("Section1234", "v", -1), 1234);
}

TEST_F(ServicesTest, ProfileWritesKeepOtherValuesAndSpellingsAndSeeChangesOnDisk)
{
    ASSERT_TRUE(WriteProfileInt("Render", "version", 3));
    EXPECT_EQ(GetProfileInt("Render", "version", 0), 3);
    ASSERT_TRUE(WriteFileText(ProfileFile(), "[Render]\nversion=4\nlowres=1024\n"));
    EXPECT_EQ(GetProfileInt("Render", "version", 0), 4);
    // Names ignore case; the file keeps the first spelling.
    ASSERT_TRUE(WriteProfileInt("RENDER", "AlphaCut", 0));
    ASSERT_TRUE(WriteProfileInt("render", "ALPHACUT", 0));
    ASSERT_TRUE(WriteProfileInt("Other", "c", 3));
    EXPECT_EQ(ReadFileText(ProfileFile()),
              "[Render]\nversion=4\nlowres=1024\nAlphaCut=0\n\n[Other]\nc=3\n");
    EXPECT_TRUE(DeleteProfileValue("render", "VERSION"));
    EXPECT_TRUE(DeleteProfileValue("Render", "never there"));
    EXPECT_TRUE(DeleteProfileValue("Other", "c"));
    EXPECT_EQ(ReadFileText(ProfileFile()), "[Render]\nlowres=1024\nAlphaCut=0\n");
    EXPECT_EQ(GetProfileInt("Render", "version", 0), 0);
}

TEST_F(ServicesTest, ProfileRefusesNamesItCannotStore)
{
    EXPECT_TRUE(zantest::AllRefused(
        {WriteProfileInt(nullptr, "key", 1), WriteProfileInt("Render", nullptr, 1),
         WriteProfileInt("", "key", 1), WriteProfileInt("Render", "", 1),
         WriteProfileInt("Ren]der", "key", 1), WriteProfileInt("Render", "a=b", 1),
         WriteProfileInt("Render", "two\nlines", 1), WriteProfileInt("Render", "[key", 1),
         WriteProfileInt("Render", ";key", 1), WriteProfileInt("Render", " key", 1)}));
    EXPECT_EQ(GetProfileInt(nullptr, "key", 5), 5);
    EXPECT_FALSE(fs::exists(ProfileFile()));
}

TEST_F(ServicesTest, ProfileWritesFromSeveralThreadsAreAllKept)
{
    const int kThreads = 4, kKeys = 40;
    zantest::RunInThreads(
        kThreads,
        [](int t)
        {
            std::string section = "Thread" + std::to_string(t);
            for (int k = 0; k < kKeys; ++k)
                WriteProfileInt(section.c_str(), ("key" + std::to_string(k)).c_str(), t * 1000 + k);
        });
    ReloadProfile();
    for (int t = 0; t < kThreads; ++t)
        for (int k = 0; k < kKeys; ++k)
            EXPECT_EQ(GetProfileInt(("thread" + std::to_string(t)).c_str(),
                                    ("KEY" + std::to_string(k)).c_str(), -1),
                      t * 1000 + k);
}

// ------------------------------------------------------------------ thread counts

TEST_F(ServicesTest, ThreadCountFromEnvironmentAndScheduleChunks)
{
    const int hardware = int(std::max(1u, std::thread::hardware_concurrency()));
    CScopedEnv env("ZAN3D_THREADS", std::nullopt);
    EXPECT_EQ(OMPGetMaxThreadCount(), hardware);
    for (const char* bad : {"0", "-2", "abc", "4x", "", "+4", "1.5", "0x10"})
    {
        env.Set(std::string(bad));
        EXPECT_EQ(OMPGetMaxThreadCount(), hardware) << '"' << bad << '"';
    }
    env.Set(std::string("99999999999999999999999"));
    EXPECT_EQ(OMPGetMaxThreadCount(), kMaxThreadCount);
    env.Set(std::string(" 5 "));
    EXPECT_EQ(OMPGetMaxThreadCount(), 5);
    env.Set(std::string("3"));
    OMPSetMaxThreadCount(7);
    EXPECT_EQ(OMPGetMaxThreadCount(), 7) << "the setter wins over the environment";
    OMPSetMaxThreadCount(0);
    EXPECT_EQ(OMPGetMaxThreadCount(), 3);

    for (int threads : {1, 2, 8, 64})
    {
        OMPSetMaxThreadCount(threads);
        EXPECT_EQ(OMPGetScheduleChunkSize(), 1);
        EXPECT_EQ(OMPGetScheduleChunkSize(-5), 1);
        int previous = 1;
        for (int items : {1, 7, 100, 1000, 100000, 10000000, INT_MAX})
        {
            int chunk = OMPGetScheduleChunkSize(items);
            EXPECT_GE(chunk, previous) << "larger loops never get smaller chunks";
            previous = chunk;
            // Enough chunks that every thread gets several to balance with.
            int64_t chunks = (int64_t(items) + chunk - 1) / chunk;
            EXPECT_GE(chunks, std::min<int64_t>(items, int64_t(threads) * 8)) << items;
            EXPECT_LE(chunks, std::max<int64_t>(int64_t(threads) * 16, 1)) << items;
        }
    }
}

TEST_F(ServicesTest, ParallelForVisitsEveryItemOnceAndRethrows)
{
    for (int threads : {1, 2, 5})
        for (int count : {0, 1, 3, 1000})
            for (int chunk : {0, 1, 7})
            {
                std::vector<std::atomic<int>> visits(static_cast<size_t>(count));
                std::set<std::thread::id> seen;
                std::mutex lock;
                ZanParallelFor(
                    count,
                    [&](int i) {
                        visits[size_t(i)].fetch_add(1);
                        std::lock_guard<std::mutex> guard(lock);
                        seen.insert(std::this_thread::get_id());
                    },
                    threads, chunk);
                for (int i = 0; i < count; ++i)
                    ASSERT_EQ(visits[size_t(i)].load(), 1) << threads << ' ' << count << ' ' << i;
                EXPECT_LE(int(seen.size()), threads);
            }
    // One failing item: the exception reaches the caller after every thread has stopped, and
    // the items handed out after the failure are not run.
    std::atomic<int> ran{0};
    EXPECT_THROW(ZanParallelFor(
                     100000,
                     [&](int i) {
                         ran.fetch_add(1);
                         if (i == 10)
                             throw std::runtime_error("item 10");
                     },
                     2, 1),
                 std::runtime_error);
    EXPECT_LT(ran.load(), 100000);
}

// ---------------------------------------------------------------- critical sections

TEST_F(ServicesTest, CriticalSectionExcludesUnderContention)
{
    CXCriticalSection section;
    long counter = 0; // deliberately not atomic
    const int kThreads = 4, kRounds = 20000;
    zantest::RunInThreads(kThreads,
                          [&](int)
                          {
                              for (int i = 0; i < kRounds; ++i)
                              {
                                  CXSingleLock lock(&section, true);
                                  long value = counter;
                                  std::this_thread::yield();
                                  counter = value + 1;
                              }
                          });
    EXPECT_EQ(counter, long(kThreads) * kRounds);
}

TEST_F(ServicesTest, CriticalSectionIsRecursiveAndSingleLockReleases)
{
    CXCriticalSection section;
    auto otherThreadCanLock = [&section]
    {
        bool locked = false;
        std::thread([&] { locked = section.TryLock() && section.Unlock(); }).join();
        return locked;
    };
    {
        CXSingleLock lock(&section);
        EXPECT_FALSE(lock.IsLocked());
        EXPECT_TRUE(otherThreadCanLock());
        EXPECT_TRUE(lock.Lock());
        EXPECT_TRUE(lock.Lock()) << "a second Lock of the same object holds one level";
        EXPECT_FALSE(otherThreadCanLock());
        {
            CXSingleLock nested(&section, true); // same thread: recursive
            EXPECT_TRUE(nested.IsLocked());
        }
        EXPECT_FALSE(otherThreadCanLock());
        EXPECT_TRUE(lock.Unlock());
        EXPECT_FALSE(lock.Unlock());
        EXPECT_TRUE(otherThreadCanLock());
        lock.Lock();
    }
    EXPECT_TRUE(otherThreadCanLock()) << "the destructor releases";
    CXSingleLock none(nullptr, true);
    EXPECT_FALSE(none.IsLocked());
    EXPECT_FALSE(none.Lock());
}

// ------------------------------------------------------------------ exit callbacks

std::vector<int> g_ExitsRan;

void RecordExit(void* data)
{
    g_ExitsRan.push_back(int(reinterpret_cast<intptr_t>(data)));
}

// Records itself, then registers another callback that records ten times its value.
void RegisterAnotherAndRecord(void* data)
{
    RecordExit(data);
    AddApplicationExitCallback(&RecordExit, reinterpret_cast<void*>(intptr_t(10) * intptr_t(data)));
}

void* Value(intptr_t value)
{
    return reinterpret_cast<void*>(value);
}

TEST_F(ServicesTest, ExitCallbacksRunOnceNewestFirstMayRegisterOthersAndFailAlone)
{
    RunApplicationExitCallbacks(); // whatever earlier code registered
    g_ExitsRan.clear();
    unsigned idA = AddApplicationExitCallback(&RecordExit, Value(1));
    unsigned idB = AddApplicationExitCallback(&RecordExit, Value(2));
    AddApplicationExitCallback([](void*) { throw std::runtime_error("exit callback failed"); },
                               nullptr);
    unsigned idC = AddApplicationExitCallback(&RegisterAnotherAndRecord, Value(3));
    EXPECT_EQ(std::set<unsigned>({0, idA, idB, idC}).size(), 4u) << "distinct ids, never 0";
    EXPECT_EQ(AddApplicationExitCallback(nullptr, Value(1)), 0u);
    EXPECT_EQ(GetApplicationExitCallbackNbr(), 4);
    EXPECT_TRUE(RemoveApplicationExitCallback(idB));
    EXPECT_FALSE(RemoveApplicationExitCallback(idB));
    EXPECT_FALSE(RemoveApplicationExitCallback(0));
    RunApplicationExitCallbacks();
    EXPECT_EQ(g_ExitsRan, (std::vector<int>{3, 30, 1}));
    EXPECT_EQ(GetApplicationExitCallbackNbr(), 0);
    RunApplicationExitCallbacks();
    EXPECT_EQ(g_ExitsRan.size(), 3u);
    EXPECT_FALSE(RemoveApplicationExitCallback(idA)) << "a callback that ran is gone";
    EXPECT_NE(LogText().find("exit callback"), std::string::npos);
}

void PrintOnExit(void* data)
{
    std::fputs(static_cast<const char*>(data), stderr);
}

using ServicesDeathTest = ServicesTest;

TEST_F(ServicesDeathTest, ExitCallbacksRunWhenTheProcessExits)
{
    static const char kFirst[] = "exit callback B;", kSecond[] = "exit callback A;";
    EXPECT_EXIT(
        {
            AddApplicationExitCallback(&PrintOnExit, const_cast<char*>(kSecond));
            AddApplicationExitCallback(&PrintOnExit, const_cast<char*>(kFirst));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "exit callback B;exit callback A;");
}

// ------------------------------------------------------------------ resource handle

TEST_F(ServicesTest, ResourceHandleScopesNestAndStayOnTheirThread)
{
    int moduleA = 0, moduleB = 0;
    void* seenByWorker = &moduleB;
    {
        CUseResourceHandle useA(&moduleA);
        {
            CUseResourceHandle useB(&moduleB);
            EXPECT_EQ(ZanGetResourceHandle(), &moduleB);
            std::thread([&] { seenByWorker = ZanGetResourceHandle(); }).join();
        }
        EXPECT_EQ(ZanGetResourceHandle(), &moduleA);
    }
    EXPECT_EQ(ZanGetResourceHandle(), seenByWorker) << "null outside every scope and elsewhere";
    EXPECT_EQ(seenByWorker, nullptr);
}

// ------------------------------------------------------------------- message boxes

TEST_F(ServicesTest, MessageBoxWithoutPresenterTakesTheDefaultAndLogsIt)
{
    ASSERT_EQ(GetMessagePresenter(), nullptr);
    // clang-format off
    const std::pair<unsigned, int> cases[] = {
        {kMbOk | kMbIconInformation, kIdOk},      {kMbOkCancel, kIdOk},
        {kMbOkCancel | kMbDefButton2, kIdCancel}, {kMbYesNo | kMbIconQuestion, kIdYes},
        {kMbYesNo | kMbDefButton2, kIdNo},        {kMbYesNoCancel | kMbDefButton3, kIdCancel},
        {kMbYesNo | kMbDefButton3, kIdYes}, // no third button: the first
        {kMbOk | kMbDefButton2, kIdOk},           {0x2 /* unknown button set */, kIdOk}};
    // clang-format on
    for (const auto& [style, answer] : cases)
        EXPECT_EQ(ZanMessageBox("Question", "Caption", style), answer) << style;

    ASSERT_TRUE(ClearLogFile());
    EXPECT_EQ(ZanMessageBox("Save the changes to\nscene.3dif?", "3D Viewer",
                            kMbYesNoCancel | kMbDefButton2),
              kIdNo);
    std::string log = LogText();
    for (const char* part : {"3D Viewer", "Save the changes to", "scene.3dif?", "-> No"})
        EXPECT_NE(log.find(part), std::string::npos) << log;
    EXPECT_EQ(ZanMessageBox(nullptr, nullptr, kMbOk), kIdOk);
}

TEST_F(ServicesTest, ScriptedAnswersAreConsumedInOrderAndRecorded)
{
    CScriptedAnswers script{kIdNo, kIdCancel};
    script.AddAnswer(kIdYes);
    EXPECT_EQ(script.GetRemainingAnswerNbr(), 3);
    EXPECT_EQ(ZanMessageBox("Overwrite?", "Save", kMbYesNo), kIdNo);
    EXPECT_EQ(ZanMessageBox("Keep going?", "Merge", kMbYesNoCancel | kMbIconWarning), kIdCancel);
    // Yes is no button of an OK/Cancel box: the user could not have given it.
    EXPECT_EQ(ZanMessageBox("Continue?", "Weld", kMbOkCancel | kMbDefButton2), kIdCancel);
    EXPECT_EQ(script.GetRemainingAnswerNbr(), 0);
    EXPECT_EQ(ZanMessageBox("Again?", "Weld", kMbYesNo | kMbDefButton2), kIdNo);
    EXPECT_TRUE(ZanNotify("Crosswalk must be installed", kNotifyWarning, "XSI file support", 2007));

    std::vector<CScriptedAnswers::Shown> shown = script.GetShown();
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown[0].m_Text.str(), "Overwrite?");
    EXPECT_EQ(shown[0].m_Caption.str(), "Save");
    EXPECT_EQ(shown[0].m_Style, kMbYesNo);
    EXPECT_EQ(shown[1].m_Style, kMbYesNoCancel | kMbIconWarning);
    std::vector<int> answers;
    for (const auto& s : shown)
        answers.push_back(s.m_Answer);
    EXPECT_EQ(answers, (std::vector<int>{kIdNo, kIdCancel, kIdCancel, kIdNo, 0}));
    EXPECT_TRUE(shown[4].m_IsNotification);
    EXPECT_EQ(shown[4].m_NotificationId, 2007u);
    EXPECT_EQ(shown[4].m_Style, kNotifyWarning);
    EXPECT_EQ(shown[4].m_Caption.str(), "XSI file support");
    std::string log = LogText();
    for (const char* text : {"Overwrite?", "Keep going?", "Continue?", "Again?", "Crosswalk"})
        EXPECT_NE(log.find(text), std::string::npos) << text;
}

TEST_F(ServicesTest, SilentThreadsShowNothingAndScriptsRestoreThePreviousPresenter)
{
    CScriptedAnswers script{kIdNo, kIdNo};
    {
        CSilentThread silent;
        {
            CSilentThread nested;
        }
        EXPECT_TRUE(IsSilentThread());
        bool workerSilent = true;
        std::thread([&] { workerSilent = IsSilentThread(); }).join();
        EXPECT_FALSE(workerSilent);
        EXPECT_EQ(ZanMessageBox("Quietly", "Silent", kMbYesNo), kIdYes);
        EXPECT_FALSE(ZanNotify("Not now", kNotifyInformation, "Silent", 2000));
    }
    EXPECT_FALSE(IsSilentThread());
    EXPECT_TRUE(script.GetShown().empty());
    EXPECT_EQ(script.GetRemainingAnswerNbr(), 2);
    EXPECT_NE(LogText().find("Quietly"), std::string::npos);
    {
        CScriptedAnswers inner{kIdYes};
        EXPECT_EQ(ZanMessageBox("inner", "", kMbYesNo), kIdYes);
    }
    EXPECT_EQ(GetMessagePresenter(), &script);
    EXPECT_EQ(ZanMessageBox("Loudly", "", kMbYesNo), kIdNo);
    ASSERT_EQ(script.GetShown().size(), 1u);
    EXPECT_EQ(script.GetShown()[0].m_Text.str(), "Loudly");
}

TEST_F(ServicesTest, PresenterAnswersAreCheckedAgainstTheButtons)
{
    struct Presenter : CMessagePresenter
    {
        int m_Answer = kIdNo;
        bool m_Throw = false;
        int Show(const char*, const char*, unsigned) override
        {
            return m_Throw ? throw std::runtime_error("no display") : m_Answer;
        }
        bool Notify(const char*, const char*, unsigned, unsigned) override { return !m_Throw; }
    } presenter;
    SetMessagePresenter(&presenter);
    EXPECT_EQ(ZanMessageBox("q", "c", kMbYesNoCancel), kIdNo);
    EXPECT_EQ(ZanMessageBox("q", "c", kMbOkCancel | kMbDefButton2), kIdCancel);
    presenter.m_Answer = 12345;
    EXPECT_EQ(ZanMessageBox("q", "c", kMbYesNo), kIdYes);
    EXPECT_TRUE(ZanNotify("n", kNotifyError));
    presenter.m_Throw = true;
    EXPECT_EQ(ZanMessageBox("q", "c", kMbYesNo | kMbDefButton2), kIdNo);
    EXPECT_FALSE(ZanNotify("n", kNotifyError));
    EXPECT_EQ(SetMessagePresenter(nullptr), &presenter);
}
} // namespace
