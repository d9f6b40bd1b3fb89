/// Small helpers shared by the test suites: temporary folders, archive round trips.
#pragma once

#include <3dzan/foundation/xarchive.h>

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

/// The bytes \p store writes into a memory archive.
std::vector<uint8_t> StoreToBytes(const std::function<void(CXArchive&)>& store);

/// Runs \p load on a loading archive over \p bytes.
void LoadFromBytes(const std::vector<uint8_t>& bytes, const std::function<void(CXArchive&)>& load);

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
