#include "common/zan_test_helpers.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace zantest
{
CTempDir::CTempDir()
{
    char pattern[] = "/tmp/zan3d-test-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    m_Path = pattern;
}

CTempDir::~CTempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_Path, ec);
}

CScopedEnv::CScopedEnv(const char* name, std::optional<std::string> value) : m_Name(name)
{
    if (const char* old = std::getenv(name))
        m_Old = old;
    Set(value);
}

void CScopedEnv::Set(const std::optional<std::string>& value)
{
    if (value)
        setenv(m_Name.c_str(), value->c_str(), 1);
    else
        unsetenv(m_Name.c_str());
}

::testing::AssertionResult AllRefused(std::initializer_list<bool> results)
{
    std::string accepted;
    int index = 0;
    for (bool result : results)
    {
        if (result)
            accepted += " " + std::to_string(index);
        ++index;
    }
    if (accepted.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "accepted where a refusal was due, at" << accepted;
}

void RunInThreads(int count, const std::function<void(int)>& body)
{
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back(body, i);
    for (std::thread& thread : threads)
        thread.join();
}

std::vector<uint8_t> StoreToBytes(const std::function<void(CXArchive&)>& store)
{
    CXMemFile file;
    {
        CXArchive ar(&file, CXArchive::store);
        store(ar);
        ar.Close();
    }
    return file.Detach();
}

void LoadFromBytes(const std::vector<uint8_t>& bytes, const std::function<void(CXArchive&)>& load,
                   size_t length)
{
    CXMemFile file(bytes.data(), std::min(length, bytes.size()));
    CXArchive ar(&file, CXArchive::load);
    load(ar);
}

bool StoreToFile(const std::string& path, const std::function<void(CXArchive&)>& store,
                 size_t bufferSize)
{
    CXDiskFile file;
    if (!file.Open(path.c_str(), CXDiskFile::modeWrite))
        return false;
    {
        CXArchive ar(&file, CXArchive::store, bufferSize);
        store(ar);
        ar.Close();
    }
    return file.Close();
}

bool LoadFromFile(const std::string& path, const std::function<void(CXArchive&)>& load,
                  size_t bufferSize)
{
    CXDiskFile file;
    if (!file.Open(path.c_str(), CXDiskFile::modeRead))
        return false;
    CXArchive ar(&file, CXArchive::load, bufferSize);
    load(ar);
    return ar.GetRemaining() == 0;
}

::testing::AssertionResult ArchiveFails(const std::function<void()>& action,
                                        std::optional<CXArchiveException::Cause> cause)
{
    try
    {
        action();
    }
    catch (const CXArchiveException& error)
    {
        if (!cause || error.GetCause() == *cause)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "cause " << int(error.GetCause()) << " instead of "
                                             << int(*cause) << ": " << error.what();
    }
    return ::testing::AssertionFailure() << "no CXArchiveException";
}

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

std::string ReadFileText(const std::string& path)
{
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

bool WriteFileText(const std::string& path, const std::string& text)
{
    return WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}
} // namespace zantest
