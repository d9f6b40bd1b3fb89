// Options and their log, parsers, file information, read and write operations, and the
// per-format parameters store.
#include <3dzan/foundation/fileio.h>
#include <3dzan/foundation/services.h>

#include "fileregistry.h"

#include <algorithm>
#include <mutex>
#include <string>

namespace
{
// A parser that logs in a loop must not exhaust memory: the log keeps this many lines.
constexpr size_t kMaxLogLines = 10000;

constexpr unsigned kParametersFileId = ZanTag("IOPR");
constexpr unsigned kImportParameters = ZanTag("IMPT");
constexpr unsigned kExportParameters = ZanTag("EXPT");

bool IsLogLevel(unsigned level)
{
    return level == _IoLevelInfo || level == _IoLevelWarning || level == _IoLevelError;
}

// A class code as a file name part: its four characters when they are plain letters and
// digits, else its hexadecimal value (class codes often end with a blank).
std::string ClassFileTag(unsigned classCode)
{
    char text[5] = {char(classCode >> 24), char(classCode >> 16), char(classCode >> 8),
                    char(classCode), 0};
    bool readable = std::all_of(text, text + 4,
                                [](char c) {
                                    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                           (c >= '0' && c <= '9');
                                });
    if (readable)
        return text;
    char hex[9];
    snprintf(hex, sizeof hex, "%08X", classCode);
    return hex;
}

// Saving one direction rewrites the file that holds both: one writer at a time.
std::mutex& ParametersLock()
{
    static std::mutex* lock = new std::mutex;
    return *lock;
}
} // namespace

// ---------------------------------------------------------------------------- CIoOptions

CIoOptions::CIoOptions(bool import, unsigned flags) : m_Import(import), m_Flags(flags) {}

CIoOptions::~CIoOptions() = default;

bool CIoOptions::AddLogInfo(unsigned level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    bool added = AddLogInfoV(level, format, args);
    va_end(args);
    return added;
}

bool CIoOptions::AddLogInfoV(unsigned level, const char* format, va_list args)
{
    if (!IsLogLevel(level) || !format)
        return false;
    m_LogLevelMask |= level;
    if (m_Log.size() >= kMaxLogLines)
    {
        ++m_DroppedLogCount;
        return true;
    }
    CXTString text;
    text.FormatV(format, args);
    m_Log.push_back({level, std::move(text)});
    return true;
}

const CXTString& CIoOptions::GetLogLine(int index, unsigned& level) const
{
    if (index < 0 || size_t(index) >= m_Log.size())
        ZanThrowIndexError("CIoOptions::GetLogLine", index, GetLogCount());
    level = m_Log[size_t(index)].m_Level;
    return m_Log[size_t(index)].m_Text;
}

CXTString CIoOptions::GetLogText(unsigned levelMask) const
{
    CXTString text;
    for (const CLogLine& line : m_Log)
    {
        if ((line.m_Level & levelMask) == 0)
            continue;
        text += line.m_Text;
        if (line.m_Text.IsEmpty() || line.m_Text.str().back() != '\n')
            text += '\n';
    }
    return text;
}

void CIoOptions::ClearLog()
{
    m_Log.clear();
    m_LogLevelMask = 0;
    m_DroppedLogCount = 0;
}

void CIoOptions::InitFromSavedPrefs(const CCustomData& data)
{
    m_CustomData = data;
}

CCustomData CIoOptions::SaveToSavedPrefs()
{
    return m_CustomData;
}

// ---------------------------------------------------------------------------- CFileParser

CFileParser::CFileParser(CFileIo* io) : m_FileIo(io) {}

CFileParser::~CFileParser() = default;

unsigned CFileParser::GetClass() const
{
    return m_FileIo ? m_FileIo->GetClass() : 0;
}

IoShowDialog CFileParser::MustShowDialog()
{
    if (!m_FileIo || m_FileIo->IsSilent())
        return _IoShowDialogNo;
    return m_FileIo->IsFlagSet(_FileParserShowDialog) ? _IoShowDialogYes : _IoShowDialogIfAsked;
}

void CFileParser::FillDefaultOptions(CIoOptions*) {}

void CFileParser::SetIoError(int result, unsigned level)
{
    if (m_FileIo)
        m_FileIo->SetIoError(result, level);
}

// ---------------------------------------------------------------------------- CFileInfo

CFileInfo::CFileInfo(const CFileNameSpec& name) : m_Name(name)
{
    if (m_Name.GetClass() == 0)
        m_Name.SetClass(fileGetClassOf(m_Name.GetFileName()));
}

CFileInfo::CFileInfo(unsigned classCode) : m_Name(CXTString(), classCode) {}

CFileInfo::~CFileInfo() = default;

bool CFileInfo::Exists() const
{
    return fileExists(m_Name.GetFileName());
}

unsigned CFileInfo::GetKind() const
{
    CFileExt record;
    return GetFileExt(record) ? record.GetKind() : 0;
}

bool CFileInfo::GetFileExt(CFileExt& out) const
{
    return GetClass() != 0 && fileGetExtensionInfo(GetClass(), out);
}

int CFileInfo::GetParserNbr() const
{
    return GetClass() ? zan_files::GetFactoryNbr(GetClass()) : 0;
}

bool CFileInfo::CanTryAnotherParser() const
{
    return m_ParserIndex + 1 < GetParserNbr();
}

bool CFileInfo::TryNextParser()
{
    if (!CanTryAnotherParser())
        return false;
    ++m_ParserIndex;
    return true;
}

// ---------------------------------------------------------------------------- CFileIo

CFileIo::CFileIo(const CFileNameSpec& file, unsigned flags) : CFileInfo(file), m_Flags(flags) {}

CFileIo::CFileIo(unsigned classCode, unsigned flags) : CFileInfo(classCode), m_Flags(flags) {}

CFileIo::~CFileIo()
{
    // Not through the virtual CloseParser: a derived class is already gone here. The parser
    // goes before the reference that keeps its plug-in's code loaded.
    m_Parser.reset();
    m_ParserModule.reset();
}

CFileParser* CFileIo::InitParser()
{
    if (m_Parser)
        return m_Parser.get();
    if (GetClass() == 0)
        return nullptr;
    std::vector<zan_files::CFactory> factories = zan_files::GetFactories(GetClass());
    for (size_t i = size_t(std::max(m_ParserIndex, 0)); i < factories.size(); ++i)
    {
        CFileParser* parser = nullptr;
        try
        {
            parser = factories[i].m_Factory(this, GetClass(), factories[i].m_UserData);
        }
        catch (...)
        {
            // A factory that throws is one that cannot serve: the next one may.
            parser = nullptr;
        }
        if (parser)
        {
            m_Parser.reset(parser);
            m_ParserModule = factories[i].m_Module;
            m_ParserIndex = int(i);
            return parser;
        }
    }
    // Every factory declined: nothing left to try for this file.
    m_ParserIndex = std::max(m_ParserIndex, int(factories.size()));
    return nullptr;
}

void CFileIo::CloseParser()
{
    m_Parser.reset();
    m_ParserModule.reset();
}

void CFileIo::SetFileParser(CFileParser* parser)
{
    if (parser == m_Parser.get())
        return;
    m_Parser.reset();
    m_ParserModule.reset();
    m_Parser.reset(parser);
}

const char* CFileIo::GetIoResultText(int result)
{
    switch (result)
    {
    case _IoResultOk:
        return "The operation succeeded";
    case _IoResultFailed:
        return "The operation failed";
    case _IoResultFileNotFound:
        return "The file cannot be found";
    case _IoResultNotSupported:
        return "No reader or writer handles this format";
    case _IoResultReadError:
        return "The file could not be read";
    case _IoResultWriteError:
        return "The file could not be written";
    case _IoResultParserError:
        return "The format reader or writer stopped on an error";
    case _IoResultUnknownFormat:
        return "The file format is unknown";
    case _IoResultBadFormat:
        return "The file is damaged or does not follow its format";
    case _IoResultNothingToSave:
        return "There is nothing to save";
    case _IoResultAccessDenied:
        return "Access to the file is denied";
    case _IoResultEmptyResult:
        return "The file holds nothing that can be used";
    case _IoResultCancelled:
        return "The operation was cancelled";
    default:
        return "The operation ended with an unknown result";
    }
}

CXTString CFileIo::FormatIoReport(const CIoOptions* options, unsigned levelMask) const
{
    CXTString report;
    if ((m_ResultLevel & levelMask) != 0)
    {
        if (GetFileName().IsEmpty())
            report.Format("%s\n", GetIoResultText(m_Result));
        else
            report.Format("%s: %s\n", GetIoResultText(m_Result), GetFileName().c_str());
    }
    if (options)
        report += options->GetLogText(levelMask);
    return report;
}

bool CFileIo::ReportIoError(const CIoOptions* options, unsigned levelMask)
{
    CXTString report = FormatIoReport(options, levelMask);
    if (report.IsEmpty())
        return false;
    m_LastReport = report;

    unsigned levels = (m_ResultLevel & levelMask) | (options ? options->GetLogLevelMask() : 0);
    levels &= levelMask;
    bool show = !IsSilent() && ((levels & (_IoLevelError | _IoLevelWarning)) != 0 ||
                                (options && options->IsFlagSet(_IoOptionsShowReport)));
    if (!show)
    {
        WriteToLogFile("%s", report.c_str());
        return true;
    }
    // The message box writes what it shows to the log itself.
    unsigned icon = (levels & _IoLevelError)     ? kMbIconError
                    : (levels & _IoLevelWarning) ? kMbIconWarning
                                                 : kMbIconInformation;
    ZanMessageBox(report, GetFileNameSpec().GetName(), kMbOk | icon);
    return true;
}

CXTString CFileIo::GetIoParametersFile(unsigned classCode)
{
    CXTString folder = GetConfigDirectory();
    if (folder.IsEmpty() || classCode == 0)
        return CXTString();
    return fileMakePath(folder, ("format-" + ClassFileTag(classCode) + ".prefs").c_str());
}

bool CFileIo::LoadIoParameters(bool import, CCustomData& data, unsigned classCode)
{
    CXTString path = GetIoParametersFile(classCode);
    if (path.IsEmpty())
        return false;
    std::lock_guard<std::mutex> lock(ParametersLock());
    CCustomData stored;
    if (!stored.LoadFromPrefs(path, kParametersFileId, classCode))
        return false;
    const CCustomData* values =
        stored.GetCustomData(import ? kImportParameters : kExportParameters);
    if (!values)
        return false;
    data = *values;
    return true;
}

bool CFileIo::SaveIoParameters(bool import, const CCustomData& data, unsigned classCode)
{
    CXTString path = GetIoParametersFile(classCode);
    if (path.IsEmpty())
        return false;
    std::lock_guard<std::mutex> lock(ParametersLock());
    // Keep the other direction's values: both live in the one file of the format.
    CCustomData stored;
    if (!stored.LoadFromPrefs(path, kParametersFileId, classCode))
        stored.RemoveAll();
    stored.SetCustomData(import ? kImportParameters : kExportParameters, data);
    return CreateConfigDirectory() && stored.SaveToPrefs(path, kParametersFileId, classCode);
}

// ---------------------------------------------------------------------------- factories

bool fileRegisterParserFactory(unsigned classCode, ZanParserFactory factory, void* userData)
{
    zan_files::CFactory entry;
    entry.m_Class = classCode;
    entry.m_Factory = factory;
    entry.m_UserData = userData;
    return zan_files::AddFactory(entry);
}

bool fileUnregisterParserFactory(unsigned classCode, ZanParserFactory factory, void* userData)
{
    return zan_files::RemoveFactory(classCode, factory, userData);
}

int fileGetParserFactoryNbr(unsigned classCode)
{
    return zan_files::GetFactoryNbr(classCode);
}
