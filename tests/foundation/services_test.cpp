// Tests of the foundation services: progress, log, folders, profile, thread counts, locks,
// exit callbacks, resource handle, message boxes.
#include <3dzan/foundation/services.h>

#include "common/zan_test_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using zantest::CScopedEnv;

namespace
{
namespace fs = std::filesystem;


std::string ReadText(const std::string& path)
{
    std::vector<uint8_t> bytes = zantest::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

bool WriteText(const std::string& path, const std::string& text)
{
    return zantest::WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Every test runs with its own configuration folder and leaves the process-wide services
// as it found them.
class ServicesTest : public ::testing::Test
{
protected:
    ServicesTest() : m_ConfigEnv("ZAN3D_CONFIG_DIR", m_Config.Path()) {}
    ~ServicesTest() override
    {
        progressSetCallback(nullptr, nullptr);
        SetMessagePresenter(nullptr);
        SetLogEnabled(true);
        OMPSetMaxThreadCount(0);
        EnablePreferencesSaving(true);
    }

    std::string ConfigFile(const char* name) const { return m_Config.File(name); }
    std::string LogText() const { return ReadText(GetLogFilePath().str()); }

    zantest::CTempDir m_Config;
    CScopedEnv m_ConfigEnv;
};

// ---------------------------------------------------------------------- progress

struct ProgressEvent
{
    int m_Event;
    int64_t m_Position;
    int64_t m_Low;
    int64_t m_High;
    std::string m_Title;
    std::string m_Status;
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
        if (event == kProgressCheckStop)
            ++self->m_AskNbr;
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

TEST_F(ServicesTest, ProgressWithoutHandlerDoesNothing)
{
    progressSetCallback(nullptr, nullptr);
    ProcessProgressInfo info;
    EXPECT_FALSE(progressCallCallback(kProgressCheckStop, &info));
    EXPECT_FALSE(progressCallCallback(kProgressStart, nullptr));
    CProgressTask task("Title");
    task.SetRange(0, 10);
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(task.CheckStop(i));
    EXPECT_FALSE(task.IsStopped());
}

TEST_F(ServicesTest, ProgressSetCallbackReturnsThePreviousHandler)
{
    ProgressRecorder first, second;
    first.Install();
    void* previousData = nullptr;
    EXPECT_EQ(progressSetCallback(&ProgressRecorder::Handle, &second, &previousData),
              &ProgressRecorder::Handle);
    EXPECT_EQ(previousData, &first);
    ProcessProgressInfo info;
    progressCallCallback(kProgressPosition, &info);
    EXPECT_TRUE(first.m_Events.empty());
    EXPECT_EQ(second.m_Events.size(), 1u);
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
        EXPECT_FALSE(task.IsStopped());
    }
    const auto& events = recorder.m_Events;
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front().m_Event, kProgressStart);
    EXPECT_EQ(events.front().m_Title, "Merging...");
    EXPECT_EQ(events.front().m_Status, "Merging coplanar  faces");
    EXPECT_EQ(events[1].m_Event, kProgressRange);
    EXPECT_EQ(events[1].m_Low, 0);
    EXPECT_EQ(events[1].m_High, kSteps);
    EXPECT_EQ(events.back().m_Event, kProgressEnd);
    for (size_t i = 2; i + 1 < events.size(); ++i)
        EXPECT_TRUE(events[i].m_Event == kProgressPosition ||
                    events[i].m_Event == kProgressCheckStop);

    // Each kind: about one report per percent, each at a higher percent than the one before,
    // positions first and then the stop questions (the loops ran in that order).
    for (int event : {kProgressPosition, kProgressCheckStop})
    {
        std::vector<int64_t> positions = recorder.PositionsOf(event);
        EXPECT_GE(positions.size(), 100u);
        EXPECT_LE(positions.size(), 101u);
        std::set<int64_t> percents;
        for (size_t i = 0; i < positions.size(); ++i)
        {
            if (i > 0)
            {
                EXPECT_GT(positions[i], positions[i - 1]);
            }
            percents.insert(positions[i] * 100 / kSteps);
        }
        EXPECT_EQ(percents.size(), positions.size());
    }
    auto firstAsk =
        std::find_if(events.begin(), events.end(),
                     [](const ProgressEvent& e) { return e.m_Event == kProgressCheckStop; });
    EXPECT_TRUE(std::none_of(firstAsk, events.end(),
                             [](const ProgressEvent& e)
                             { return e.m_Event == kProgressPosition; }));
}

TEST_F(ServicesTest, ProgressStopIsAnsweredAndStays)
{
    ProgressRecorder recorder;
    recorder.m_StopFrom = 500;
    recorder.Install();
    int64_t stoppedAt = -1;
    {
        CProgressTask task("Welding");
        task.SetRange(0, 1000);
        for (int64_t i = 0; i < 1000; ++i)
        {
            if (task.CheckStop(i))
            {
                stoppedAt = i;
                break;
            }
        }
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
}

TEST_F(ServicesTest, ProgressHandlerMaySetTheStopFieldItself)
{
    auto handler = [](int event, ProcessProgressInfo* info, void*)
    {
        if (event == kProgressPosition && info->m_Position >= 30)
            info->m_Stop = true;
        return false;
    };
    progressSetCallback(handler, nullptr);
    CProgressTask task("Task");
    task.SetRange(0, 100);
    task.SetPosition(10);
    EXPECT_FALSE(task.CheckStop(10));
    task.SetPosition(30);
    EXPECT_TRUE(task.CheckStop(31));
}

TEST_F(ServicesTest, ProgressTaskWithoutRangeCanStillBeStopped)
{
    ProgressRecorder recorder;
    recorder.m_StopFrom = 0;
    recorder.Install();
    CProgressTask task("Scanning");
    task.SetRange(0, 0); // nothing to measure against: every position is 0 %
    recorder.m_StopFrom = INT64_MAX;
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
    std::atomic<int64_t> next{0};
    std::atomic<int64_t> processed{0};
    std::atomic<int> stoppedWorkers{0};
    {
        CProgressTask task("Parallel");
        task.SetRange(0, kItems);
        std::vector<std::thread> workers;
        for (int w = 0; w < kWorkers; ++w)
        {
            workers.emplace_back(
                [&]
                {
                    int64_t i;
                    while ((i = next.fetch_add(1)) < kItems)
                    {
                        if (task.CheckStop(i))
                        {
                            ++stoppedWorkers;
                            return;
                        }
                        ++processed;
                    }
                });
        }
        for (std::thread& worker : workers)
            worker.join();
        EXPECT_TRUE(task.IsStopped());
    }
    EXPECT_EQ(stoppedWorkers.load(), kWorkers);
    // Workers wait for the answer of a question in progress, so nothing at or past the
    // stopping percentage gets through, and at most one item per worker before it is lost.
    EXPECT_LE(processed.load(), kItems / 4);
    EXPECT_GE(processed.load(), kItems / 4 - kWorkers);
    EXPECT_LT(next.load(), kItems / 2);
    // One question per percent up to the stop, and the few that a long run without a new
    // percentage forces.
    EXPECT_LE(recorder.m_AskNbr, 26 + kItems / 4 / int64_t(CProgressTask::kCheckStopEvery) + 1);
    // The questions came from the workers.
    for (const ProgressEvent& e : recorder.m_Events)
    {
        if (e.m_Event == kProgressCheckStop)
        {
            EXPECT_NE(e.m_Thread, std::this_thread::get_id());
        }
    }
}

TEST_F(ServicesTest, ProgressAdvanceCountsItemsFromAnyThread)
{
    ProgressRecorder recorder;
    recorder.Install();
    {
        CProgressTask task("Counting");
        task.SetRange(100, 100 + 4000);
        std::vector<std::thread> workers;
        for (int w = 0; w < 4; ++w)
            workers.emplace_back(
                [&]
                {
                    for (int i = 0; i < 1000; ++i)
                        task.Advance();
                });
        for (std::thread& worker : workers)
            worker.join();
    }
    std::vector<int64_t> asked = recorder.PositionsOf(kProgressCheckStop);
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.back(), 4100) << "the last item done reaches 100 %";
    EXPECT_TRUE(std::is_sorted(asked.begin(), asked.end()));
}

// --------------------------------------------------------------------------- log

TEST_F(ServicesTest, LogIndentsNestedScopesPerLine)
{
    WriteToLogFile("C3DScene::Copy time %d ms\n", 12);
    {
        CLogIndent outer;
        WriteToLogFile("inner");
        {
            CLogIndent inner;
            EXPECT_EQ(CLogIndent::GetLevel(), 2);
            WriteToLogFile("deeper %s\nsecond line\n", "first line");
        }
        WriteToLogFile("inner again\n");
    }
    EXPECT_EQ(CLogIndent::GetLevel(), 0);
    WriteToLogFile("outer again\n");
    EXPECT_EQ(GetLogFilePath().str(), ConfigFile("3dzan.log"));
    EXPECT_EQ(LogText(), "C3DScene::Copy time 12 ms\n"
                         "    inner\n"
                         "        deeper first line\n"
                         "        second line\n"
                         "    inner again\n"
                         "outer again\n");
}

TEST_F(ServicesTest, LogIndentationBelongsToItsThread)
{
    CLogIndent indent;
    std::thread worker([] { WriteToLogFile("from worker\n"); });
    worker.join();
    WriteToLogFile("from main\n");
    EXPECT_EQ(LogText(), "from worker\n    from main\n");
}

TEST_F(ServicesTest, LogLinesOfSeveralThreadsDoNotMix)
{
    const int kThreads = 8;
    const int kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(
            [t]
            {
                std::string payload(200, char('a' + t));
                CLogIndent indent; // every thread one level in
                for (int l = 0; l < kLines; ++l)
                    WriteToLogFile("thread %d line %d %s\n", t, l, payload.c_str());
            });
    for (std::thread& thread : threads)
        thread.join();

    std::vector<std::string> lines = SplitLines(LogText());
    ASSERT_EQ(lines.size(), size_t(kThreads * kLines));
    std::vector<std::vector<int>> seen(kThreads);
    for (const std::string& line : lines)
    {
        int t = -1, l = -1;
        char payload[256] = {};
        ASSERT_EQ(std::sscanf(line.c_str(), "    thread %d line %d %255s", &t, &l, payload), 3)
            << line;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        EXPECT_EQ(std::string(payload), std::string(200, char('a' + t))) << line;
        EXPECT_EQ(line.size(),
                  std::string("    thread 0 line ").size() + std::to_string(l).size() + 1 + 200);
        seen[size_t(t)].push_back(l);
    }
    for (int t = 0; t < kThreads; ++t)
    {
        ASSERT_EQ(seen[size_t(t)].size(), size_t(kLines));
        EXPECT_TRUE(std::is_sorted(seen[size_t(t)].begin(), seen[size_t(t)].end()));
    }
}

TEST_F(ServicesTest, LogCutsHugeTextsAndCanBeDisabledOrCleared)
{
    std::string huge(3 * kLogMaxText, 'x');
    WriteToLogFile("%s", huge.c_str());
    std::string text = LogText();
    EXPECT_EQ(text, std::string(kLogMaxText, 'x') + "...\n");

    ASSERT_TRUE(ClearLogFile());
    EXPECT_EQ(LogText(), "");
    SetLogEnabled(false);
    EXPECT_FALSE(IsLogEnabled());
    WriteToLogFile("not written\n");
    SetLogEnabled(true);
    WriteToLogFile("written\n");
    EXPECT_EQ(LogText(), "written\n");
}

TEST_F(ServicesTest, LogCreatesTheConfigurationFolderPrivately)
{
    std::string folder = m_Config.File("sub/3dzan");
    CScopedEnv env("ZAN3D_CONFIG_DIR", folder);
    EXPECT_FALSE(fs::exists(folder));
    WriteToLogFile("first\n");
    struct stat info = {};
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(ReadText(folder + "/3dzan.log"), "first\n");
}

// ------------------------------------------------------------------------ folders

TEST(ServicesFolders, ConfigDirectoryResolutionOrder)
{
    // Only names are computed here: nothing is written, so no real folder is touched.
    CScopedEnv zan("ZAN3D_CONFIG_DIR", "/srv/zan//");
    CScopedEnv xdg("XDG_CONFIG_HOME", "/xdg/config");
    CScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(GetConfigDirectory().str(), "/srv/zan/");

    zan.Set(std::string());
    EXPECT_EQ(GetConfigDirectory().str(), "/xdg/config/3dzan/") << "empty means unset";
    zan.Set(std::nullopt);
    EXPECT_EQ(GetConfigDirectory().str(), "/xdg/config/3dzan/");

    xdg.Set(std::string("relative/config"));
    EXPECT_EQ(GetConfigDirectory().str(), "/home/someone/.config/3dzan/")
        << "a relative XDG_CONFIG_HOME is ignored";
    xdg.Set(std::nullopt);
    EXPECT_EQ(GetConfigDirectory().str(), "/home/someone/.config/3dzan/");

    home.Set(std::nullopt);
    std::string fallback = GetConfigDirectory().str();
    if (!fallback.empty())
    {
        EXPECT_EQ(fallback.front(), '/');
        EXPECT_TRUE(fallback.ends_with("/.config/3dzan/"));
    }

    zan.Set(std::string("/srv/zan"));
    EXPECT_EQ(GetUserPreferencesPath().str(), "/srv/zan/");
    EXPECT_EQ(GetProfilePath().str(), "/srv/zan/profile.ini");
    EXPECT_EQ(GetLogFilePath().str(), "/srv/zan/3dzan.log");
}

TEST(ServicesFolders, ApplicationAndLibraryFolders)
{
    std::string application = GetApplicationPath().str();
    ASSERT_FALSE(application.empty());
    EXPECT_EQ(application.back(), '/');
    EXPECT_TRUE(fs::is_regular_file(application + program_invocation_short_name)) << application;

    std::string library = GetLibraryPath().str();
    ASSERT_FALSE(library.empty());
    EXPECT_EQ(library.back(), '/');
    bool found = false;
    for (const auto& entry : fs::directory_iterator(library))
        found = found || entry.path().filename().string().starts_with("lib3dzan.so");
    EXPECT_TRUE(found) << library;
    EXPECT_NE(library, application);
}

TEST_F(ServicesTest, PreferencesSavingSwitch)
{
    EXPECT_TRUE(IsPreferencesSavingEnabled());
    EnablePreferencesSaving(false);
    EXPECT_FALSE(IsPreferencesSavingEnabled());
    EnablePreferencesSaving(true);
    EXPECT_TRUE(IsPreferencesSavingEnabled());
}

// ------------------------------------------------------------------------ profile

TEST_F(ServicesTest, ProfileRoundTripOfEveryKindAcrossSections)
{
    const char* kText = "two\nlines, a tab\there, a backslash \\n, \"quotes\" = [x] ; # été";
    ASSERT_TRUE(WriteProfileLongUInt("Render", "backgroundcolor", 0x808080));
    ASSERT_TRUE(WriteProfileLongUInt("Render", "glpixelformat", 0xFFFFFFFFu));
    ASSERT_TRUE(WriteProfileUInt64("Render", "viewmode", 0x170000E14ull));
    ASSERT_TRUE(WriteProfileUInt64("Render", "max", UINT64_MAX));
    ASSERT_TRUE(WriteProfileInt("Other", "min", INT_MIN));
    ASSERT_TRUE(WriteProfileInt("Other", "max", INT_MAX));
    ASSERT_TRUE(WriteProfileInt("Other", "minus", -5));
    ASSERT_TRUE(WriteProfileString("Other", "text", kText));
    ASSERT_TRUE(WriteProfileString("Other", "blanks", "  both ends\t"));
    ASSERT_TRUE(WriteProfileString("Other", "quoted", "\"already quoted\""));
    ASSERT_TRUE(WriteProfileString("Other", "empty", ""));
    ASSERT_TRUE(WriteProfileString("Third", "control", "bell\a nul-free"));

    // Once from the cache, once from the file, once after the folder went away and back.
    for (int pass = 0; pass < 3; ++pass)
    {
        SCOPED_TRACE(pass);
        if (pass == 1)
            ReloadProfile();
        std::optional<zantest::CTempDir> elsewhere;
        if (pass == 2)
        {
            elsewhere.emplace();
            CScopedEnv env("ZAN3D_CONFIG_DIR", elsewhere->Path());
            EXPECT_EQ(GetProfileLongUInt("Render", "backgroundcolor", 7), 7u);
        }
        EXPECT_EQ(GetProfileLongUInt("Render", "backgroundcolor", 0), 0x808080u);
        EXPECT_EQ(GetProfileLongUInt("Render", "glpixelformat", 0), 0xFFFFFFFFu);
        EXPECT_EQ(GetProfileUInt64("Render", "viewmode", 0), 0x170000E14ull);
        EXPECT_EQ(GetProfileUInt64("Render", "max", 0), UINT64_MAX);
        EXPECT_EQ(GetProfileInt("Other", "min", 0), INT_MIN);
        EXPECT_EQ(GetProfileInt("Other", "max", 0), INT_MAX);
        EXPECT_EQ(GetProfileInt("Other", "minus", 0), -5);
        EXPECT_EQ(GetProfileString("Other", "text", "").str(), kText);
        EXPECT_EQ(GetProfileString("Other", "blanks", "").str(), "  both ends\t");
        EXPECT_EQ(GetProfileString("Other", "quoted", "").str(), "\"already quoted\"");
        EXPECT_EQ(GetProfileString("Other", "empty", "default").str(), "");
        EXPECT_TRUE(HasProfileValue("Other", "empty"));
        EXPECT_EQ(GetProfileString("Third", "control", "").str(), "bell\a nul-free");
        // Same key in another section is another value.
        EXPECT_EQ(GetProfileInt("Render", "min", 42), 42);
    }
    // One line per value: a string's newline must not start a line of its own.
    std::string file = ReadText(GetProfilePath().str());
    EXPECT_EQ(SplitLines(file).size(), 3u + 12u + 2u); // headers, values, blank separators
}

TEST_F(ServicesTest, ProfileNamesIgnoreCaseAndKeepTheFirstSpelling)
{
    ASSERT_TRUE(WriteProfileLongUInt("Render", "viewMode", 1));
    EXPECT_EQ(GetProfileLongUInt("RENDER", "VIEWMODE", 0), 1u);
    ASSERT_TRUE(WriteProfileLongUInt("render", "viewmode", 2));
    EXPECT_EQ(GetProfileLongUInt("Render", "viewMode", 0), 2u);
    EXPECT_EQ(ReadText(GetProfilePath().str()), "[Render]\nviewMode=2\n");
}

TEST_F(ServicesTest, ProfileValuesThatDoNotParseGiveTheDefault)
{
    ASSERT_TRUE(WriteText(ConfigFile("profile.ini"), "[S]\n"
                                                     "word=abc\n"
                                                     "negative=-1\n"
                                                     "big=4294967296\n"
                                                     "hex = 0x1F \n"
                                                     "intbig=2147483648\n"
                                                     "trailing=12abc\n"
                                                     "u64big=18446744073709551616\n"
                                                     "octal=010\n"
                                                     "empty=\n"));
    EXPECT_EQ(GetProfileLongUInt("S", "word", 9), 9u);
    EXPECT_EQ(GetProfileLongUInt("S", "negative", 9), 9u);
    EXPECT_EQ(GetProfileLongUInt("S", "big", 9), 9u);
    EXPECT_EQ(GetProfileLongUInt("S", "hex", 9), 31u);
    EXPECT_EQ(GetProfileInt("S", "negative", 9), -1);
    EXPECT_EQ(GetProfileInt("S", "intbig", 9), 9);
    EXPECT_EQ(GetProfileInt("S", "trailing", 9), 9);
    EXPECT_EQ(GetProfileUInt64("S", "big", 9), 4294967296ull);
    EXPECT_EQ(GetProfileUInt64("S", "u64big", 9), 9u);
    EXPECT_EQ(GetProfileInt("S", "octal", 9), 10) << "a leading zero is still decimal";
    EXPECT_EQ(GetProfileInt("S", "empty", 9), 9);
    EXPECT_EQ(GetProfileString("S", "word", "").str(), "abc");
    EXPECT_EQ(GetProfileString("S", "missing", "fallback").str(), "fallback");
    EXPECT_EQ(GetProfileString("Missing", "word", nullptr).str(), "");
}

TEST_F(ServicesTest, ProfileOfBinaryGarbageIsIgnoredAndKeptUntilAWrite)
{
    std::mt19937 random(1234);
    std::vector<uint8_t> garbage(50000);
    for (uint8_t& byte : garbage)
        byte = uint8_t(random());
    // Something that would read as a value if the garbage were taken for text.
    const char kLooksValid[] = "\n[Render]\nviewmode=5\n";
    garbage.insert(garbage.begin() + 100, kLooksValid, kLooksValid + sizeof kLooksValid - 1);
    garbage[10] = 0;
    const std::string path = ConfigFile("profile.ini");
    ASSERT_TRUE(zantest::WriteFileBytes(path, garbage));

    EXPECT_EQ(GetProfileUInt64("Render", "viewmode", 0x70000E14), 0x70000E14u);
    EXPECT_FALSE(HasProfileValue("Render", "viewmode"));
    ReloadProfile();
    EXPECT_EQ(GetProfileString("Render", "viewmode", "none").str(), "none");
    EXPECT_EQ(zantest::ReadFileBytes(path), garbage) << "reading never rewrites the file";

    ASSERT_TRUE(WriteProfileLongUInt("Render", "lowres", 256));
    EXPECT_EQ(ReadText(path), "[Render]\nlowres=256\n");
    EXPECT_EQ(GetProfileLongUInt("Render", "lowres", 0), 256u);
}

TEST_F(ServicesTest, ProfileLinesThatCannotBeReadAreSkippedOneByOne)
{
    const std::string path = ConfigFile("profile.ini");
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
    ASSERT_TRUE(WriteText(path, text));

    EXPECT_EQ(GetProfileLongUInt("Render", "lowres", 0), 512u);
    EXPECT_EQ(GetProfileLongUInt("Render", "alphacut", 1), 0u);
    EXPECT_EQ(GetProfileLongUInt("Render", "glsettings", 0), 1u);
    EXPECT_EQ(GetProfileString("Other", "name", "").str(), "last wins");
    EXPECT_FALSE(HasProfileValue("Render", "long"));
    EXPECT_FALSE(HasProfileValue("Render", "lost"));
    EXPECT_FALSE(HasProfileValue("Broken", "lost"));
    EXPECT_FALSE(HasProfileValue("Render", "no equal sign here"));
    EXPECT_EQ(ReadText(path), text);

    // A write keeps every value that could be read.
    ASSERT_TRUE(WriteProfileInt("Render", "version", 4));
    ReloadProfile();
    EXPECT_EQ(GetProfileInt("Render", "version", 0), 4);
    EXPECT_EQ(GetProfileLongUInt("Render", "lowres", 0), 512u);
    EXPECT_EQ(GetProfileLongUInt("Render", "alphacut", 1), 0u);
    EXPECT_EQ(GetProfileLongUInt("Render", "glsettings", 0), 1u);
    EXPECT_EQ(GetProfileString("Other", "name", "").str(), "last wins");
    EXPECT_EQ(ReadText(path).find("777777"), std::string::npos);
}

TEST_F(ServicesTest, ProfileTooLargeIsIgnoredAsAWhole)
{
    const std::string path = ConfigFile("profile.ini");
    std::string text = "[Render]\nlowres=128\n";
    const std::string comment = "; " + std::string(1000, '-') + "\n";
    while (text.size() <= kProfileMaxFileSize)
        text += comment;
    ASSERT_TRUE(WriteText(path, text));
    EXPECT_EQ(GetProfileLongUInt("Render", "lowres", 512), 512u);
    EXPECT_EQ(ReadText(path), text);
}

TEST_F(ServicesTest, ProfileWithManyEntriesKeepsEveryOne)
{
    // Every value of a large file is read, and a write keeps them all.
    std::string text = "[Big]\n";
    const int kKeys = 60000;
    for (int k = 0; k < kKeys; ++k)
        text += "key" + std::to_string(k) + "=" + std::to_string(k * 7) + "\n";
    for (int k = 0; k < 10000; ++k)
        text += "[Section" + std::to_string(k) + "]\nv=" + std::to_string(k) + "\n";
    ASSERT_LT(text.size(), kProfileMaxFileSize);
    ASSERT_TRUE(WriteText(ConfigFile("profile.ini"), text));
    for (int k : {0, 1, 34567, kKeys - 1})
        EXPECT_EQ(GetProfileInt("big", ("KEY" + std::to_string(k)).c_str(), -1), k * 7);
    EXPECT_EQ(GetProfileInt("Section9999", "v", -1), 9999);
    ASSERT_TRUE(WriteProfileInt("Big", "key0", -3));
    ReloadProfile();
    EXPECT_EQ(GetProfileInt("Big", "key0", 0), -3);
    EXPECT_EQ(GetProfileInt("Big", "key59999", 0), 59999 * 7);
    EXPECT_EQ(GetProfileInt("Section1234", "v", -1), 1234);
}

TEST_F(ServicesTest, ProfileThatCannotBeReadIsNeverReplaced)
{
    const std::string path = ConfigFile("profile.ini");
    ASSERT_TRUE(fs::create_directory(path));
    ASSERT_TRUE(WriteText(path + "/inside", "keep"));
    EXPECT_EQ(GetProfileInt("Render", "version", 3), 3);
    EXPECT_FALSE(WriteProfileInt("Render", "version", 4));
    EXPECT_FALSE(DeleteProfileValue("Render", "version"));
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_EQ(ReadText(path + "/inside"), "keep");
    // The failure is told once in the log, not once per call.
    std::string log = LogText();
    size_t first = log.find("cannot be read");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(log.find("cannot be read", first + 1), std::string::npos);
}

TEST_F(ServicesTest, ProfileSeesChangesMadeOnDisk)
{
    const std::string path = ConfigFile("profile.ini");
    ASSERT_TRUE(WriteProfileInt("Render", "version", 3));
    EXPECT_EQ(GetProfileInt("Render", "version", 0), 3);
    ASSERT_TRUE(WriteText(path, "[Render]\nversion=4\nlowres=1024\n"));
    EXPECT_EQ(GetProfileInt("Render", "version", 0), 4);
    EXPECT_EQ(GetProfileInt("Render", "lowres", 0), 1024);
    ASSERT_TRUE(WriteProfileInt("Render", "alphacut", 0));
    EXPECT_EQ(ReadText(path), "[Render]\nversion=4\nlowres=1024\nalphacut=0\n");
}

TEST_F(ServicesTest, ProfileRefusesNamesItCannotStore)
{
    EXPECT_FALSE(WriteProfileInt(nullptr, "key", 1));
    EXPECT_FALSE(WriteProfileInt("Render", nullptr, 1));
    EXPECT_FALSE(WriteProfileInt("", "key", 1));
    EXPECT_FALSE(WriteProfileInt("Render", "", 1));
    EXPECT_FALSE(WriteProfileInt("Ren]der", "key", 1));
    EXPECT_FALSE(WriteProfileInt("Render", "a=b", 1));
    EXPECT_FALSE(WriteProfileInt("Render", "two\nlines", 1));
    EXPECT_FALSE(WriteProfileInt("Render", "[key", 1));
    EXPECT_FALSE(WriteProfileInt("Render", ";key", 1));
    EXPECT_FALSE(WriteProfileInt("Render", " key", 1));
    EXPECT_EQ(GetProfileInt(nullptr, "key", 5), 5);
    EXPECT_FALSE(fs::exists(ConfigFile("profile.ini")));
}

TEST_F(ServicesTest, ProfileReadingCreatesNothingAndWritingLeavesNoTemporaryFile)
{
    std::string folder = m_Config.File("not/yet");
    CScopedEnv env("ZAN3D_CONFIG_DIR", folder);
    EXPECT_EQ(GetProfileInt("Render", "version", 1), 1);
    EXPECT_FALSE(HasProfileValue("Render", "version"));
    EXPECT_FALSE(fs::exists(m_Config.File("not")));

    ASSERT_TRUE(WriteProfileInt("Render", "version", 4));
    ASSERT_TRUE(WriteProfileInt("Render", "version", 5));
    struct stat info = {};
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"profile.ini"});
}

TEST_F(ServicesTest, ProfileDeleteRemovesOneValue)
{
    ASSERT_TRUE(WriteProfileInt("Render", "a", 1));
    ASSERT_TRUE(WriteProfileInt("Render", "b", 2));
    ASSERT_TRUE(WriteProfileInt("Other", "c", 3));
    EXPECT_TRUE(DeleteProfileValue("render", "A"));
    EXPECT_TRUE(DeleteProfileValue("Render", "never there"));
    EXPECT_TRUE(DeleteProfileValue("Other", "c"));
    EXPECT_EQ(ReadText(GetProfilePath().str()), "[Render]\nb=2\n");
    EXPECT_EQ(GetProfileInt("Render", "a", 0), 0);
}

TEST_F(ServicesTest, ProfileWritesFromSeveralThreadsAreAllKept)
{
    const int kThreads = 4;
    const int kKeys = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(
            [t]
            {
                std::string section = "Thread" + std::to_string(t);
                for (int k = 0; k < kKeys; ++k)
                    WriteProfileInt(section.c_str(), ("key" + std::to_string(k)).c_str(),
                                    t * 1000 + k);
            });
    for (std::thread& thread : threads)
        thread.join();
    ReloadProfile();
    for (int t = 0; t < kThreads; ++t)
        for (int k = 0; k < kKeys; ++k)
            EXPECT_EQ(GetProfileInt(("thread" + std::to_string(t)).c_str(),
                                    ("KEY" + std::to_string(k)).c_str(), -1),
                      t * 1000 + k);
}

// ------------------------------------------------------------------ thread counts

TEST_F(ServicesTest, ThreadCountFromEnvironment)
{
    const int hardware = int(std::max(1u, std::thread::hardware_concurrency()));
    CScopedEnv env("ZAN3D_THREADS", std::nullopt);
    EXPECT_EQ(OMPGetMaxThreadCount(), hardware);
    env.Set(std::string("3"));
    EXPECT_EQ(OMPGetMaxThreadCount(), 3);
    env.Set(std::string(" 5 "));
    EXPECT_EQ(OMPGetMaxThreadCount(), 5);
    for (const char* bad : {"0", "-2", "abc", "4x", "", "+4", "1.5", "0x10"})
    {
        env.Set(std::string(bad));
        EXPECT_EQ(OMPGetMaxThreadCount(), hardware) << '"' << bad << '"';
    }
    env.Set(std::string("99999999999999999999999"));
    EXPECT_EQ(OMPGetMaxThreadCount(), kMaxThreadCount);

    env.Set(std::string("3"));
    OMPSetMaxThreadCount(7);
    EXPECT_EQ(OMPGetMaxThreadCount(), 7) << "the setter wins over the environment";
    OMPSetMaxThreadCount(0);
    EXPECT_EQ(OMPGetMaxThreadCount(), 3);
}

TEST_F(ServicesTest, ScheduleChunkSizeSpreadsWorkOverEveryThread)
{
    for (int threads : {1, 2, 8, 64})
    {
        OMPSetMaxThreadCount(threads);
        EXPECT_EQ(OMPGetScheduleChunkSize(), 1);
        EXPECT_EQ(OMPGetScheduleChunkSize(-5), 1);
        int previous = 1;
        for (int items : {1, 7, 100, 1000, 100000, 10000000, INT_MAX})
        {
            int chunk = OMPGetScheduleChunkSize(items);
            EXPECT_GE(chunk, 1);
            EXPECT_GE(chunk, previous) << "larger loops never get smaller chunks";
            previous = chunk;
            // Enough chunks that every thread gets several to balance with.
            int64_t chunks = (int64_t(items) + chunk - 1) / chunk;
            EXPECT_GE(chunks, std::min<int64_t>(items, int64_t(threads) * 8)) << items;
            EXPECT_LE(chunks, std::max<int64_t>(int64_t(threads) * 16, 1)) << items;
        }
    }
}

// ---------------------------------------------------------------- critical sections

TEST_F(ServicesTest, CriticalSectionExcludesUnderContention)
{
    CXCriticalSection section;
    long counter = 0; // deliberately not atomic
    const int kThreads = 4;
    const int kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(
            [&]
            {
                for (int i = 0; i < kRounds; ++i)
                {
                    CXSingleLock lock(&section, true);
                    long value = counter;
                    std::this_thread::yield();
                    counter = value + 1;
                }
            });
    for (std::thread& thread : threads)
        thread.join();
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
        EXPECT_TRUE(lock.IsLocked());
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

struct ExitLog
{
    std::vector<int> m_Ran;
    int m_Value = 0;
};

struct ExitCall
{
    ExitLog* m_Log;
    int m_Value;
};

void RecordExit(void* data)
{
    auto* call = static_cast<ExitCall*>(data);
    call->m_Log->m_Ran.push_back(call->m_Value);
}

TEST_F(ServicesTest, ExitCallbacksRunOnceNewestFirst)
{
    RunApplicationExitCallbacks(); // whatever earlier code registered
    ExitLog log;
    ExitCall a{&log, 1}, b{&log, 2}, c{&log, 3};
    unsigned idA = AddApplicationExitCallback(&RecordExit, &a);
    unsigned idB = AddApplicationExitCallback(&RecordExit, &b);
    unsigned idC = AddApplicationExitCallback(&RecordExit, &c);
    EXPECT_NE(idA, 0u);
    EXPECT_EQ(std::set<unsigned>({idA, idB, idC}).size(), 3u);
    EXPECT_EQ(AddApplicationExitCallback(nullptr, &a), 0u);
    EXPECT_EQ(GetApplicationExitCallbackNbr(), 3);

    EXPECT_TRUE(RemoveApplicationExitCallback(idB));
    EXPECT_FALSE(RemoveApplicationExitCallback(idB));
    EXPECT_FALSE(RemoveApplicationExitCallback(0));
    RunApplicationExitCallbacks();
    EXPECT_EQ(log.m_Ran, (std::vector<int>{3, 1}));
    EXPECT_EQ(GetApplicationExitCallbackNbr(), 0);
    RunApplicationExitCallbacks();
    EXPECT_EQ(log.m_Ran, (std::vector<int>{3, 1}));
    EXPECT_FALSE(RemoveApplicationExitCallback(idA)) << "a callback that ran is gone";
}

ExitCall g_Late{nullptr, 0};

void RegisterAnotherAndRecord(void* data)
{
    auto* call = static_cast<ExitCall*>(data);
    call->m_Log->m_Ran.push_back(call->m_Value);
    g_Late = {call->m_Log, call->m_Value * 10};
    AddApplicationExitCallback(&RecordExit, &g_Late);
}

void ThrowOnExit(void*)
{
    throw std::runtime_error("exit callback failed");
}

TEST_F(ServicesTest, ExitCallbacksMayRegisterOthersAndFailAlone)
{
    RunApplicationExitCallbacks();
    ExitLog log;
    ExitCall first{&log, 1}, second{&log, 2};
    AddApplicationExitCallback(&RecordExit, &first);
    AddApplicationExitCallback(&ThrowOnExit, nullptr);
    AddApplicationExitCallback(&RegisterAnotherAndRecord, &second);
    RunApplicationExitCallbacks();
    EXPECT_EQ(log.m_Ran, (std::vector<int>{2, 20, 1}));
    EXPECT_EQ(GetApplicationExitCallbackNbr(), 0);
    EXPECT_NE(LogText().find("exit callback"), std::string::npos);
}

void PrintOnExit(void* data)
{
    std::fputs(static_cast<const char*>(data), stderr);
}

using ServicesDeathTest = ServicesTest;

TEST_F(ServicesDeathTest, ExitCallbacksRunWhenTheProcessExits)
{
    static const char kFirst[] = "exit callback B;";
    static const char kSecond[] = "exit callback A;";
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
    EXPECT_EQ(ZanGetResourceHandle(), nullptr);
    {
        CUseResourceHandle useA(&moduleA);
        EXPECT_EQ(ZanGetResourceHandle(), &moduleA);
        {
            CUseResourceHandle useB(&moduleB);
            EXPECT_EQ(ZanGetResourceHandle(), &moduleB);
            void* seenByWorker = &moduleB;
            std::thread([&] { seenByWorker = ZanGetResourceHandle(); }).join();
            EXPECT_EQ(seenByWorker, nullptr);
        }
        EXPECT_EQ(ZanGetResourceHandle(), &moduleA);
    }
    EXPECT_EQ(ZanGetResourceHandle(), nullptr);
}

// ------------------------------------------------------------------- message boxes

TEST_F(ServicesTest, MessageBoxWithoutPresenterTakesTheDefaultAndLogsIt)
{
    ASSERT_EQ(GetMessagePresenter(), nullptr);
    struct Case
    {
        unsigned m_Style;
        int m_Answer;
    };
    const Case cases[] = {
        {kMbOk | kMbIconInformation, kIdOk},
        {kMbOkCancel, kIdOk},
        {kMbOkCancel | kMbDefButton2, kIdCancel},
        {kMbYesNo | kMbIconQuestion, kIdYes},
        {kMbYesNo | kMbDefButton2, kIdNo},
        {kMbYesNoCancel | kMbDefButton3, kIdCancel},
        {kMbYesNo | kMbDefButton3, kIdYes}, // no third button: the first
        {kMbOk | kMbDefButton2, kIdOk},
        {0x2 /* a button set the library does not know */, kIdOk},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ZanMessageBox("Question", "Caption", c.m_Style), c.m_Answer) << c.m_Style;

    ASSERT_TRUE(ClearLogFile());
    EXPECT_EQ(ZanMessageBox("Save the changes to\nscene.3dif?", "3D Viewer",
                            kMbYesNoCancel | kMbDefButton2),
              kIdNo);
    std::string log = LogText();
    EXPECT_NE(log.find("3D Viewer"), std::string::npos) << log;
    EXPECT_NE(log.find("Save the changes to"), std::string::npos) << log;
    EXPECT_NE(log.find("scene.3dif?"), std::string::npos) << log;
    EXPECT_NE(log.find("-> No"), std::string::npos) << log;
    EXPECT_EQ(ZanMessageBox(nullptr, nullptr, kMbOk), kIdOk);
}

TEST_F(ServicesTest, ScriptedAnswersAreConsumedInOrderAndRecorded)
{
    CScriptedAnswers script{kIdNo, kIdCancel};
    script.AddAnswer(kIdYes);
    EXPECT_EQ(GetMessagePresenter(), &script);
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
    EXPECT_EQ(shown[0].m_Answer, kIdNo);
    EXPECT_EQ(shown[1].m_Style, kMbYesNoCancel | kMbIconWarning);
    EXPECT_EQ(shown[1].m_Answer, kIdCancel);
    EXPECT_EQ(shown[2].m_Answer, kIdCancel);
    EXPECT_EQ(shown[3].m_Caption.str(), "Weld");
    EXPECT_EQ(shown[3].m_Answer, kIdNo);
    EXPECT_TRUE(shown[4].m_IsNotification);
    EXPECT_EQ(shown[4].m_NotificationId, 2007u);
    EXPECT_EQ(shown[4].m_Style, kNotifyWarning);
    EXPECT_EQ(shown[4].m_Caption.str(), "XSI file support");

    std::string log = LogText();
    for (const char* text : {"Overwrite?", "Keep going?", "Continue?", "Again?", "Crosswalk"})
        EXPECT_NE(log.find(text), std::string::npos) << text;
}

TEST_F(ServicesTest, ScriptedAnswersRestoreThePreviousPresenter)
{
    CScriptedAnswers outer{kIdYes};
    {
        CScriptedAnswers inner{kIdNo};
        EXPECT_EQ(ZanMessageBox("inner", "", kMbYesNo), kIdNo);
    }
    EXPECT_EQ(GetMessagePresenter(), &outer);
    EXPECT_EQ(ZanMessageBox("outer", "", kMbYesNo), kIdYes);
    ASSERT_EQ(outer.GetShown().size(), 1u);
    EXPECT_EQ(outer.GetShown()[0].m_Text.str(), "outer");
}

TEST_F(ServicesTest, SilentThreadShowsNothing)
{
    CScriptedAnswers script{kIdNo, kIdNo};
    {
        CSilentThread silent;
        EXPECT_TRUE(IsSilentThread());
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
    EXPECT_EQ(ZanMessageBox("Loudly", "", kMbYesNo), kIdNo);
}

TEST_F(ServicesTest, PresenterAnswersAreCheckedAgainstTheButtons)
{
    struct Presenter : CMessagePresenter
    {
        int m_Answer = 0;
        bool m_Throw = false;
        int Show(const char*, const char*, unsigned) override
        {
            if (m_Throw)
                throw std::runtime_error("no display");
            return m_Answer;
        }
        bool Notify(const char*, const char*, unsigned, unsigned) override { return !m_Throw; }
    } presenter;
    SetMessagePresenter(&presenter);
    presenter.m_Answer = kIdNo;
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
