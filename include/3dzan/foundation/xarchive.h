/// \file xarchive.h
/// \brief CXArchive, the binary archive every serializable class stores itself into, and its
///        memory and file backings.
///
/// Encoding: little-endian fixed-width integers and IEEE floats, `bool` as one byte, strings
/// as a 32-bit byte count followed by UTF-8, counts as 32 bits (0xFFFFFFFF escapes to a
/// following 64-bit count), class records as the class name. Loading checks every count
/// against the bytes that remain before anything is allocated; a short or malformed stream
/// raises CXArchiveException.
#pragma once

#include <3dzan/foundation/exceptions.h>
#include <3dzan/foundation/xstring.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the archive moves arrays of plain values as their memory image");

class CXObject;
struct CXRuntimeClass;

/// \brief Byte stream under an archive.
class ZAN_API CXFile
{
public:
    virtual ~CXFile();
    /// \brief Reads up to \p size bytes; returns how many were read (0 at the end).
    virtual size_t Read(void* buffer, size_t size) = 0;
    /// \brief Writes all \p size bytes; raises CXArchiveException(_WriteFailed) when it cannot.
    virtual void Write(const void* buffer, size_t size) = 0;
    /// \brief Bytes between the current position and the end.
    virtual uint64_t GetRemaining() const = 0;
    /// \brief Pushes written bytes to the device; raises on failure.
    virtual void Flush();
};

/// \brief A growable memory file, or a read-only view over bytes owned elsewhere.
class ZAN_API CXMemFile : public CXFile
{
public:
    /// \brief An empty growable file.
    CXMemFile() = default;
    /// \brief A read-only view over \p size bytes at \p data; the bytes must outlive the file.
    CXMemFile(const void* data, size_t size);
    ~CXMemFile() override;

    size_t Read(void* buffer, size_t size) override;
    void Write(const void* buffer, size_t size) override;
    uint64_t GetRemaining() const override;

    /// \brief The file's bytes (written or viewed).
    const uint8_t* GetBuffer() const;
    size_t GetLength() const;
    /// \brief Moves the read position back to the start.
    void SeekToBegin() { m_Position = 0; }
    /// \brief The written bytes, moved out; the file is empty afterwards.
    std::vector<uint8_t> Detach();

private:
    std::vector<uint8_t> m_Owned;
    const uint8_t* m_View = nullptr;
    size_t m_ViewSize = 0;
    bool m_IsView = false;
    size_t m_Position = 0;
};

/// \brief A file on disk (stdio underneath).
class ZAN_API CXDiskFile : public CXFile
{
public:
    enum OpenMode
    {
        modeRead = 0,
        modeWrite = 1 ///< create or truncate
    };
    CXDiskFile() = default;
    ~CXDiskFile() override;
    CXDiskFile(const CXDiskFile&) = delete;
    CXDiskFile& operator=(const CXDiskFile&) = delete;

    /// \brief Opens \p path; false (with errno set) when it cannot.
    bool Open(const char* path, OpenMode mode);
    /// \brief Closes the file; false when buffered bytes could not be written.
    bool Close();
    bool IsOpen() const { return m_File != nullptr; }

    size_t Read(void* buffer, size_t size) override;
    void Write(const void* buffer, size_t size) override;
    uint64_t GetRemaining() const override;
    void Flush() override;

private:
    FILE* m_File = nullptr;
    uint64_t m_Size = 0;
    uint64_t m_Position = 0;
};

/// \brief Binary archive over a CXFile; one object both stores and loads (see IsStoring).
class ZAN_API CXArchive
{
public:
    enum Mode
    {
        store = 0,
        load = 1
    };

    /// \brief An archive over \p file (not owned) in \p mode, buffering \p bufferSize bytes.
    CXArchive(CXFile* file, Mode mode, size_t bufferSize = 64 * 1024);
    /// \brief Flushes a storing archive; write errors there are ignored: call Close to see them.
    ~CXArchive();
    CXArchive(const CXArchive&) = delete;
    CXArchive& operator=(const CXArchive&) = delete;

    bool IsStoring() const { return m_Mode == store; }
    bool IsLoading() const { return m_Mode == load; }
    CXFile* GetFile() const { return m_File; }

    /// \brief Writes buffered bytes to the file and flushes it.
    void Flush();
    /// \brief Flushes a storing archive; the archive is not used afterwards.
    void Close();

    /// \brief Raw bytes.
    void Write(const void* data, size_t size)
    {
        if (size == 0)
            return;
        if (size <= size_t(m_End - m_Cursor) && m_Mode == store)
        {
            std::memcpy(m_Cursor, data, size);
            m_Cursor += size;
            return;
        }
        WriteSlow(data, size);
    }
    void Read(void* data, size_t size)
    {
        if (size == 0)
            return;
        if (size <= size_t(m_End - m_Cursor) && m_Mode == load)
        {
            std::memcpy(data, m_Cursor, size);
            m_Cursor += size;
            return;
        }
        ReadSlow(data, size);
    }

    /// \brief Arrays of plain values, moved as one block.
    template <class T> void WriteArray(const T* values, size_t count)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        Write(values, count * sizeof(T));
    }
    template <class T> void ReadArray(T* values, size_t count)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        Read(values, count * sizeof(T));
    }

    CXArchive& operator<<(bool v)
    {
        uint8_t b = v ? 1 : 0;
        Write(&b, 1);
        return *this;
    }
    CXArchive& operator>>(bool& v);
#define ZAN_ARCHIVE_POD(T)                                                                     \
    CXArchive& operator<<(T v)                                                                 \
    {                                                                                          \
        Write(&v, sizeof v);                                                                   \
        return *this;                                                                          \
    }                                                                                          \
    CXArchive& operator>>(T& v)                                                                \
    {                                                                                          \
        Read(&v, sizeof v);                                                                    \
        return *this;                                                                          \
    }
    ZAN_ARCHIVE_POD(char)
    ZAN_ARCHIVE_POD(signed char)
    ZAN_ARCHIVE_POD(unsigned char)
    ZAN_ARCHIVE_POD(short)
    ZAN_ARCHIVE_POD(unsigned short)
    ZAN_ARCHIVE_POD(int)
    ZAN_ARCHIVE_POD(unsigned int)
    ZAN_ARCHIVE_POD(long)
    ZAN_ARCHIVE_POD(unsigned long)
    ZAN_ARCHIVE_POD(long long)
    ZAN_ARCHIVE_POD(unsigned long long)
    ZAN_ARCHIVE_POD(float)
    ZAN_ARCHIVE_POD(double)
#undef ZAN_ARCHIVE_POD
    CXArchive& operator<<(const CXTString& s)
    {
        WriteString(s.str());
        return *this;
    }
    CXArchive& operator>>(CXTString& s)
    {
        s = ReadString();
        return *this;
    }
    CXArchive& operator<<(const char* s)
    {
        WriteString(s ? s : "");
        return *this;
    }

    /// \brief A string: 32-bit byte count and UTF-8 bytes.
    void WriteString(std::string_view text);
    CXTString ReadString();

    /// \brief A count of items that follow.
    void WriteCount(uint64_t count);
    /// \brief Reads a count and checks that \p minBytesPerItem bytes per item remain.
    /// \throw CXArchiveException(_BadCount) when they do not, or the count exceeds \p maxCount.
    uint64_t ReadCount(uint64_t minBytesPerItem = 1, uint64_t maxCount = UINT64_MAX);

    /// \brief A class record: the class name (an empty name stands for "no class").
    void WriteClass(const CXRuntimeClass* cls);
    /// \brief Reads a class record; null for "no class".
    /// \throw CXArchiveException(_BadClass) for an undeclared name, or one that is not
    ///        \p required nor derives from it.
    const CXRuntimeClass* ReadClass(const CXRuntimeClass* required = nullptr);
    /// \brief An object with its class record, or the null record for a null pointer.
    void WriteObject(const CXObject* object);
    /// \brief Recreates an object from its class record and loads it; null for the null record.
    ///        The caller owns the result. An object whose loading fails is destroyed.
    CXObject* ReadObject(const CXRuntimeClass* required = nullptr);

    /// \brief User data that objects may consult while they are read or written.
    void SetData(void* data) { m_UserData = data; }
    void* GetData() const { return m_UserData; }

    /// \brief Bytes left to read (loading).
    uint64_t GetRemaining() const;
    /// \brief Raises CXArchiveException(_BadCount) unless \p bytes remain to be read.
    void CheckRemaining(uint64_t bytes, const char* what);

    /// \brief Holds one level of nesting while it lives; raises CXArchiveException(_TooDeep)
    ///        beyond the archive's limit. Recursive readers take one per level.
    class ZAN_API CDepthGuard
    {
    public:
        explicit CDepthGuard(CXArchive& ar);
        ~CDepthGuard();
        CDepthGuard(const CDepthGuard&) = delete;
        CDepthGuard& operator=(const CDepthGuard&) = delete;

    private:
        CXArchive& m_Archive;
    };
    void SetMaxDepth(int depth) { m_MaxDepth = depth; }
    int GetMaxDepth() const { return m_MaxDepth; }

private:
    void WriteSlow(const void* data, size_t size);
    void ReadSlow(void* data, size_t size);
    void FlushBuffer();
    [[noreturn]] void ThrowBadMode() const;

    CXFile* m_File;
    Mode m_Mode;
    std::unique_ptr<uint8_t[]> m_Buffer;
    size_t m_BufferSize;
    uint8_t* m_Cursor; ///< next byte to write or read
    uint8_t* m_End;    ///< end of free space (store) or of buffered bytes (load)
    void* m_UserData = nullptr;
    int m_Depth = 0;
    int m_MaxDepth = 200;
    bool m_Closed = false;
};

/// \brief Writes \p value with its archive operator: `ZanSerialize(ar, x)` stores or loads.
template <class T> void ZanSerialize(CXArchive& ar, T& value)
{
    if (ar.IsStoring())
        ar << value;
    else
        ar >> value;
}
