// Mapped input files, the text scanner's helpers and atomic output files of the plug-ins.
#include "pluginfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zanplugin
{
CMappedFile::~CMappedFile()
{
    if (m_Mapping)
        munmap(m_Mapping, m_Size);
}

bool CMappedFile::Open(const char* path)
{
    const int descriptor = open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
    {
        m_Error = std::string("cannot open the file: ") + std::strerror(errno);
        return false;
    }
    struct stat info;
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode))
    {
        m_Error = "not a regular file";
        close(descriptor);
        return false;
    }
    m_Size = size_t(info.st_size);
    if (m_Size == 0)
    {
        close(descriptor);
        m_Data = "";
        return true;
    }
    void* mapping = mmap(nullptr, m_Size, PROT_READ, MAP_PRIVATE, descriptor, 0);
    const int mapError = errno;
    close(descriptor);
    if (mapping == MAP_FAILED)
    {
        m_Size = 0;
        m_Error = std::string("cannot map the file: ") + std::strerror(mapError);
        return false;
    }
    madvise(mapping, m_Size, MADV_SEQUENTIAL);
    m_Mapping = mapping;
    m_Data = static_cast<const char*>(mapping);
    return true;
}

size_t CTextScanner::LineNumberAt(const char* start, const char* position)
{
    return size_t(std::count(start, position, '\n')) + 1;
}

std::string_view CTextScanner::RestOfLine()
{
    SkipBlanks();
    const char* end = m_Pos;
    while (end < m_End && *end != '\n')
        ++end;
    const char* last = end;
    while (last > m_Pos && (last[-1] == ' ' || last[-1] == '\t' || last[-1] == '\r'))
        --last;
    return {m_Pos, size_t(last - m_Pos)};
}

// ------------------------------------------------------------------------ CAtomicFile

CAtomicFile::~CAtomicFile()
{
    if (m_Descriptor >= 0)
    {
        close(m_Descriptor);
        unlink(m_Temporary.c_str());
    }
}

bool CAtomicFile::Open(const char* path)
{
    m_Path = path;
    m_Temporary = m_Path + ".XXXXXX";
    m_Descriptor = mkstemp(m_Temporary.data());
    if (m_Descriptor < 0)
    {
        m_Error = std::string("cannot create the file: ") + std::strerror(errno);
        return false;
    }
    // mkstemp makes the file private: give it the old file's mode, or a new file's.
    struct stat old;
    if (stat(path, &old) == 0)
        fchmod(m_Descriptor, old.st_mode & 07777);
    else
    {
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(m_Descriptor, 0666 & ~mask);
    }
    m_Buffer.reserve(1 << 20);
    return true;
}

void CAtomicFile::FlushBuffer()
{
    const char* data = m_Buffer.data();
    size_t left = m_Buffer.size();
    while (left > 0 && !m_Failed)
    {
        const ssize_t written = write(m_Descriptor, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
        {
            m_Failed = true;
            m_Error = std::string("cannot write the file: ") + std::strerror(errno);
            break;
        }
        data += written;
        left -= size_t(written);
    }
    m_Buffer.clear();
}

void CAtomicFile::Write(const void* data, size_t size)
{
    if (m_Descriptor < 0 || m_Failed)
        return;
    if (m_Buffer.size() + size > m_Buffer.capacity())
        FlushBuffer();
    if (size >= m_Buffer.capacity())
    {
        m_Buffer.assign(static_cast<const char*>(data), static_cast<const char*>(data) + size);
        FlushBuffer();
        return;
    }
    m_Buffer.insert(m_Buffer.end(), static_cast<const char*>(data),
                    static_cast<const char*>(data) + size);
}

void CAtomicFile::Print(const char* format, ...)
{
    char small[512];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0)
        return;
    if (size_t(length) < sizeof small)
    {
        Write(small, size_t(length));
        return;
    }
    std::string large(size_t(length) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(large.data(), large.size(), format, args);
    va_end(args);
    Write(large.data(), size_t(length));
}

bool CAtomicFile::Commit()
{
    if (m_Descriptor < 0)
        return false;
    FlushBuffer();
    bool ok = !m_Failed && fsync(m_Descriptor) == 0;
    if (!ok && m_Error.empty())
        m_Error = std::string("cannot write the file: ") + std::strerror(errno);
    ok = close(m_Descriptor) == 0 && ok;
    m_Descriptor = -1;
    if (ok && std::rename(m_Temporary.c_str(), m_Path.c_str()) != 0)
    {
        m_Error = std::string("cannot replace the file: ") + std::strerror(errno);
        ok = false;
    }
    if (!ok)
        unlink(m_Temporary.c_str());
    return ok;
}

std::string_view FormatFloat(float value, char (&buffer)[32])
{
    const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return {buffer, size_t(result.ptr - buffer)};
}
} // namespace zanplugin
