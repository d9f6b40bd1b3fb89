#include <3dzan/foundation/exceptions.h>

#include <string>

CXException::CXException(std::string message) : m_Message(std::move(message)) {}
CXException::~CXException() = default;
const char* CXException::what() const noexcept { return m_Message.c_str(); }

CXArchiveException::CXArchiveException(Cause cause, std::string message)
    : CXException("archive: " + std::move(message)), m_Cause(cause)
{
}
CXArchiveException::~CXArchiveException() = default;

CXInvalidArgException::CXInvalidArgException(std::string message)
    : CXException(std::move(message))
{
}
CXInvalidArgException::~CXInvalidArgException() = default;

void ZanThrowIndexError(const char* where, long long index, long long size)
{
    throw CXInvalidArgException(std::string(where) + ": index " + std::to_string(index) +
                                " outside [0, " + std::to_string(size) + ")");
}
