// The archive keeps one buffer between the objects and the file: small values are copied
// into it inline, and only a full (or empty) buffer reaches the file's virtual Read/Write.
// Large blocks bypass the buffer. Loading never trusts a count: every count is compared
// with the bytes the file still holds before anything is allocated for it.
#include <3dzan/foundation/xarchive.h>
#include <3dzan/foundation/xobject.h>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace
{
// Longest class name an archive accepts; declared names are far shorter.
constexpr uint32_t kMaxClassName = 256;
} // namespace

CXFile::~CXFile() = default;
void CXFile::Flush() {}

// ---------------------------------------------------------------- memory file

CXMemFile::CXMemFile(const void* data, size_t size)
    : m_View(static_cast<const uint8_t*>(data)), m_ViewSize(data ? size : 0), m_IsView(true)
{
}

CXMemFile::~CXMemFile() = default;

size_t CXMemFile::Read(void* buffer, size_t size)
{
    const uint8_t* base = GetBuffer();
    size_t n = std::min(size, GetLength() - m_Position);
    if (n)
        std::memcpy(buffer, base + m_Position, n);
    m_Position += n;
    return n;
}

void CXMemFile::Write(const void* buffer, size_t size)
{
    if (m_IsView)
        throw CXArchiveException(CXArchiveException::_WriteFailed,
                                 "writing to a read-only memory view");
    if (size == 0)
        return;
    size_t end = m_Position + size;
    if (end > m_Owned.size())
    {
        if (end > m_Owned.capacity())
            m_Owned.reserve(std::max(end, m_Owned.capacity() * 2));
        m_Owned.resize(end);
    }
    std::memcpy(m_Owned.data() + m_Position, buffer, size);
    m_Position = end;
}

uint64_t CXMemFile::GetRemaining() const { return GetLength() - m_Position; }

const uint8_t* CXMemFile::GetBuffer() const { return m_IsView ? m_View : m_Owned.data(); }

size_t CXMemFile::GetLength() const { return m_IsView ? m_ViewSize : m_Owned.size(); }

std::vector<uint8_t> CXMemFile::Detach()
{
    std::vector<uint8_t> out;
    out.swap(m_Owned);
    m_Position = 0;
    return out;
}

// ---------------------------------------------------------------- disk file

CXDiskFile::~CXDiskFile() { Close(); }

bool CXDiskFile::Open(const char* path, OpenMode mode)
{
    Close();
    if (!path)
        return false;
    FILE* f = std::fopen(path, mode == modeWrite ? "wb" : "rb");
    if (!f)
        return false;
    struct stat st;
    errno = 0;
    if (fstat(fileno(f), &st) != 0 || (mode == modeRead && !S_ISREG(st.st_mode)))
    {
        int saved = errno ? errno : EISDIR;
        std::fclose(f);
        errno = saved;
        return false;
    }
    m_File = f;
    m_Size = mode == modeRead ? uint64_t(st.st_size) : 0;
    m_Position = 0;
    return true;
}

bool CXDiskFile::Close()
{
    if (!m_File)
        return true;
    bool ok = std::fclose(m_File) == 0;
    m_File = nullptr;
    m_Size = m_Position = 0;
    return ok;
}

size_t CXDiskFile::Read(void* buffer, size_t size)
{
    if (!m_File)
        return 0;
    size_t n = std::fread(buffer, 1, size, m_File);
    m_Position += n;
    return n;
}

void CXDiskFile::Write(const void* buffer, size_t size)
{
    if (!m_File || std::fwrite(buffer, 1, size, m_File) != size)
        throw CXArchiveException(CXArchiveException::_WriteFailed,
                                 std::string("cannot write: ") + std::strerror(errno));
    m_Position += size;
    m_Size = std::max(m_Size, m_Position);
}

uint64_t CXDiskFile::GetRemaining() const { return m_Size > m_Position ? m_Size - m_Position : 0; }

void CXDiskFile::Flush()
{
    if (m_File && std::fflush(m_File) != 0)
        throw CXArchiveException(CXArchiveException::_WriteFailed,
                                 std::string("cannot flush: ") + std::strerror(errno));
}

// ---------------------------------------------------------------- archive

CXArchive::CXArchive(CXFile* file, Mode mode, size_t bufferSize)
    : m_File(file), m_Mode(mode), m_BufferSize(std::max<size_t>(bufferSize, 256))
{
    if (!file)
        throw CXInvalidArgException("CXArchive: no file");
    m_Buffer.reset(new uint8_t[m_BufferSize]);
    m_Cursor = m_Buffer.get();
    m_End = mode == store ? m_Buffer.get() + m_BufferSize : m_Buffer.get();
}

CXArchive::~CXArchive()
{
    if (m_Mode == store && !m_Closed)
    {
        try
        {
            FlushBuffer();
        }
        catch (const CXException&)
        {
            // A destructor cannot report; Close() is the way to see write errors.
        }
    }
}

void CXArchive::ThrowBadMode() const
{
    throw CXArchiveException(CXArchiveException::_BadMode,
                             m_Mode == store ? "reading from a storing archive"
                                             : "writing to a loading archive");
}

void CXArchive::FlushBuffer()
{
    size_t n = size_t(m_Cursor - m_Buffer.get());
    m_Cursor = m_Buffer.get();
    if (n)
        m_File->Write(m_Buffer.get(), n);
}

void CXArchive::Flush()
{
    if (m_Mode == store)
    {
        FlushBuffer();
        m_File->Flush();
    }
}

void CXArchive::Close()
{
    if (m_Mode == store && !m_Closed)
        Flush();
    m_Closed = true;
}

void CXArchive::WriteSlow(const void* data, size_t size)
{
    if (m_Mode != store)
        ThrowBadMode();
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    size_t room = size_t(m_End - m_Cursor);
    if (size < m_BufferSize)
    {
        std::memcpy(m_Cursor, bytes, room);
        m_Cursor += room;
        FlushBuffer();
        std::memcpy(m_Cursor, bytes + room, size - room);
        m_Cursor += size - room;
        return;
    }
    FlushBuffer();
    m_File->Write(bytes, size);
}

void CXArchive::ReadSlow(void* data, size_t size)
{
    if (m_Mode != load)
        ThrowBadMode();
    uint8_t* out = static_cast<uint8_t*>(data);
    size_t have = size_t(m_End - m_Cursor);
    if (size > have + m_File->GetRemaining())
        throw CXArchiveException(CXArchiveException::_EndOfFile,
                                 "unexpected end of data (" + std::to_string(size) +
                                     " bytes wanted, " +
                                     std::to_string(have + m_File->GetRemaining()) + " left)");
    std::memcpy(out, m_Cursor, have);
    out += have;
    size -= have;
    m_Cursor = m_End = m_Buffer.get();
    if (size >= m_BufferSize)
    {
        if (m_File->Read(out, size) != size)
            throw CXArchiveException(CXArchiveException::_EndOfFile, "short read");
        return;
    }
    size_t got = m_File->Read(m_Buffer.get(), m_BufferSize);
    if (got < size)
        throw CXArchiveException(CXArchiveException::_EndOfFile, "short read");
    m_End = m_Buffer.get() + got;
    std::memcpy(out, m_Cursor, size);
    m_Cursor += size;
}

CXArchive& CXArchive::operator>>(bool& v)
{
    uint8_t b;
    Read(&b, 1);
    if (b > 1)
        throw CXArchiveException(CXArchiveException::_BadValue,
                                 "boolean byte " + std::to_string(b));
    v = b != 0;
    return *this;
}

uint64_t CXArchive::GetRemaining() const
{
    if (m_Mode != load)
        return 0;
    return uint64_t(m_End - m_Cursor) + m_File->GetRemaining();
}

void CXArchive::CheckRemaining(uint64_t bytes, const char* what)
{
    if (bytes > GetRemaining())
        throw CXArchiveException(CXArchiveException::_BadCount,
                                 std::string(what) + " needs " + std::to_string(bytes) +
                                     " bytes, " + std::to_string(GetRemaining()) + " left");
}

void CXArchive::WriteString(std::string_view text)
{
    if (text.size() >= 0xFFFFFFFFu)
        throw CXInvalidArgException("CXArchive: string longer than 4 GiB");
    *this << uint32_t(text.size());
    Write(text.data(), text.size());
}

CXTString CXArchive::ReadString()
{
    uint32_t length;
    *this >> length;
    CheckRemaining(length, "string");
    std::string text(length, '\0');
    Read(text.data(), length);
    return CXTString(std::move(text));
}

void CXArchive::WriteCount(uint64_t count)
{
    if (count < 0xFFFFFFFFu)
        *this << uint32_t(count);
    else
        *this << uint32_t(0xFFFFFFFFu) << count;
}

uint64_t CXArchive::ReadCount(uint64_t minBytesPerItem, uint64_t maxCount)
{
    uint32_t small;
    *this >> small;
    uint64_t count = small;
    if (small == 0xFFFFFFFFu)
        *this >> count;
    if (count > maxCount)
        throw CXArchiveException(CXArchiveException::_BadCount,
                                 "count " + std::to_string(count) + " above the limit " +
                                     std::to_string(maxCount));
    uint64_t per = std::max<uint64_t>(minBytesPerItem, 1);
    if (count > GetRemaining() / per)
        throw CXArchiveException(CXArchiveException::_BadCount,
                                 "count " + std::to_string(count) + " of " + std::to_string(per) +
                                     "-byte items, but only " + std::to_string(GetRemaining()) +
                                     " bytes left");
    return count;
}

void CXArchive::WriteClass(const CXRuntimeClass* cls)
{
    WriteString(cls ? cls->m_ClassName : "");
}

const CXRuntimeClass* CXArchive::ReadClass(const CXRuntimeClass* required)
{
    uint32_t length;
    *this >> length;
    if (length == 0)
        return nullptr;
    if (length > kMaxClassName)
        throw CXArchiveException(CXArchiveException::_BadClass,
                                 "class name of " + std::to_string(length) + " bytes");
    char name[kMaxClassName + 1];
    Read(name, length);
    name[length] = '\0';
    const CXRuntimeClass* cls = CXRuntimeClass::FromName(name);
    if (!cls)
        throw CXArchiveException(CXArchiveException::_BadClass,
                                 std::string("unknown class \"") + name + "\"");
    if (required && !cls->IsDerivedFrom(required))
        throw CXArchiveException(CXArchiveException::_BadClass,
                                 std::string("class ") + name + " is not a " +
                                     required->m_ClassName);
    return cls;
}

void CXArchive::WriteObject(const CXObject* object)
{
    if (!object)
    {
        WriteClass(nullptr);
        return;
    }
    WriteClass(object->GetRuntimeClassDescriptor());
    const_cast<CXObject*>(object)->Serialize(*this);
}

CXObject* CXArchive::ReadObject(const CXRuntimeClass* required)
{
    CDepthGuard depth(*this);
    const CXRuntimeClass* cls = ReadClass(required);
    if (!cls)
        return nullptr;
    std::unique_ptr<CXObject> object(cls->CreateObject());
    if (!object)
        throw CXArchiveException(CXArchiveException::_BadClass,
                                 std::string("class ") + cls->m_ClassName +
                                     " cannot be created");
    object->Serialize(*this);
    return object.release();
}

CXArchive::CDepthGuard::CDepthGuard(CXArchive& ar) : m_Archive(ar)
{
    if (++ar.m_Depth > ar.m_MaxDepth)
    {
        --ar.m_Depth;
        throw CXArchiveException(CXArchiveException::_TooDeep,
                                 "nesting deeper than " + std::to_string(ar.m_MaxDepth));
    }
}

CXArchive::CDepthGuard::~CDepthGuard() { --m_Archive.m_Depth; }
