#include "common/zan_test_helpers.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

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

void LoadFromBytes(const std::vector<uint8_t>& bytes, const std::function<void(CXArchive&)>& load)
{
    CXMemFile file(bytes.data(), bytes.size());
    CXArchive ar(&file, CXArchive::load);
    load(ar);
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
} // namespace zantest
