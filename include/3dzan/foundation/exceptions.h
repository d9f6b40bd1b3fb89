/// \file exceptions.h
/// \brief The two exceptions of the foundation: malformed archives and bad arguments.
#pragma once

#include <3dzan/foundation/zandefs.h>

#include <exception>
#include <string>

/// \brief Base of the foundation exceptions; carries a readable message.
class ZAN_API CXException : public std::exception
{
public:
    explicit CXException(std::string message);
    ~CXException() override;
    const char* what() const noexcept override;
    const std::string& GetMessage() const { return m_Message; }

private:
    std::string m_Message;
};

/// \brief Raised when an archive cannot be read: truncated, malformed, or naming an unknown class.
class ZAN_API CXArchiveException : public CXException
{
public:
    /// Why reading or writing stopped.
    enum Cause
    {
        _GenericError = 0,
        _EndOfFile = 1,     ///< fewer bytes than the record needs
        _BadCount = 2,      ///< a count larger than the bytes that remain, or absurd
        _BadClass = 3,      ///< an unknown class name, or a class of the wrong kind
        _BadValue = 4,      ///< a value that cannot occur in a valid archive
        _TooDeep = 5,       ///< nesting deeper than the archive allows
        _WriteFailed = 6,   ///< the backing refused bytes
        _BadMode = 7        ///< loading from a storing archive or the reverse
    };

    CXArchiveException(Cause cause, std::string message);
    ~CXArchiveException() override;
    Cause GetCause() const { return m_Cause; }

private:
    Cause m_Cause;
};

/// \brief Raised when an index or argument is outside what a foundation container accepts.
class ZAN_API CXInvalidArgException : public CXException
{
public:
    explicit CXInvalidArgException(std::string message);
    ~CXInvalidArgException() override;
};

/// \brief Throws CXInvalidArgException for an index outside [0, size).
[[noreturn]] ZAN_API void ZanThrowIndexError(const char* where, long long index, long long size);
