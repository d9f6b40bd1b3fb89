/// Small helpers shared by the test suites: temporary folders and environment, threads,
/// archive round trips and archive errors.
#pragma once

#include <3dzan/foundation/xarchive.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zantest
{
/// A folder under /tmp removed with its content when the object goes.
class CTempDir
{
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    const std::string& Path() const { return m_Path; }
    std::string File(const std::string& name) const { return m_Path + "/" + name; }

private:
    std::string m_Path;
};

/// Sets (or, with nullopt, removes) an environment variable and puts it back on destruction.
class CScopedEnv
{
public:
    CScopedEnv(const char* name, std::optional<std::string> value);
    ~CScopedEnv() { Set(m_Old); }
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;
    void Set(const std::optional<std::string>& value);

private:
    std::string m_Name;
    std::optional<std::string> m_Old;
};

/// ReadFileBytes and WriteFileBytes for text.
std::string ReadFileText(const std::string& path);
bool WriteFileText(const std::string& path, const std::string& text);

/// A temporary configuration folder: ZAN3D_CONFIG_DIR names it while the object lives.
class CTempConfigDir
{
public:
    CTempConfigDir() : m_Env("ZAN3D_CONFIG_DIR", m_Dir.Path()) {}
    const std::string& Path() const { return m_Dir.Path(); }
    std::string File(const std::string& name) const { return m_Dir.File(name); }
    /// The text of the log file in the folder.
    std::string LogText() const { return ReadFileText(File("3dzan.log")); }

private:
    CTempDir m_Dir;
    CScopedEnv m_Env;
};

/// Success when every one of \p results is false: each is the answer of a call that must
/// be refused. A failure names the positions of the calls that were not.
::testing::AssertionResult AllRefused(std::initializer_list<bool> results);

/// Runs \p body(0) to \p body(count - 1) on \p count threads at once and waits for them all.
void RunInThreads(int count, const std::function<void(int)>& body);

/// The bytes \p store writes into a memory archive.
std::vector<uint8_t> StoreToBytes(const std::function<void(CXArchive&)>& store);

/// Runs \p load on a loading archive over \p bytes, or over their first \p length bytes.
void LoadFromBytes(const std::vector<uint8_t>& bytes, const std::function<void(CXArchive&)>& load,
                   size_t length = SIZE_MAX);

/// Runs \p store on an archive written to the disk file \p path; false when it cannot.
bool StoreToFile(const std::string& path, const std::function<void(CXArchive&)>& store,
                 size_t bufferSize = 64 * 1024);
/// Runs \p load on an archive read from the disk file \p path; true when the file opened and
/// \p load read it to its last byte.
bool LoadFromFile(const std::string& path, const std::function<void(CXArchive&)>& load,
                  size_t bufferSize = 64 * 1024);

/// Success when \p action raises CXArchiveException (with \p cause, when one is given).
::testing::AssertionResult ArchiveFails(const std::function<void()>& action,
                                        std::optional<CXArchiveException::Cause> cause = {});

/// Loads every proper prefix of \p bytes into \p target (its Serialize): each must raise
/// CXArchiveException and leave \p unchanged() true.
template <class T, class Check>
void ExpectTruncationsFail(const std::vector<uint8_t>& bytes, T& target, Check unchanged)
{
    for (size_t length = 0; length < bytes.size(); ++length)
    {
        EXPECT_TRUE(ArchiveFails(
            [&]
            { LoadFromBytes(bytes, [&](CXArchive& ar) { target.Serialize(ar); }, length); }))
            << length;
        ASSERT_TRUE(unchanged()) << length;
    }
}

/// Stores an object, loads it into \p target, and returns the stored bytes.
template <class T> std::vector<uint8_t> RoundTrip(T& source, T& target)
{
    auto bytes = StoreToBytes([&](CXArchive& ar) { source.Serialize(ar); });
    LoadFromBytes(bytes, [&](CXArchive& ar) { target.Serialize(ar); });
    return bytes;
}

/// Reads a whole file; empty when it cannot.
std::vector<uint8_t> ReadFileBytes(const std::string& path);
/// Writes a whole file; false when it cannot.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
} // namespace zantest
