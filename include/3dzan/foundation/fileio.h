/// \file fileio.h
/// \brief Read and write operations on files: options with their log (`CIoOptions`), the
///        base of format parsers (`CFileParser`), what the registry knows of a file
///        (`CFileInfo`), one operation (`CFileIo`), per-format stored parameters, parser
///        factories and the loading of format plug-ins.
///
/// A format is served by parsers that factories create on demand; the factories come from
/// plug-ins (`RegisterIOPlugins`, see plugin_abi.h) or from the library itself
/// (`fileRegisterParserFactory`). Several factories may serve one format class: an
/// operation tries them in registration order (`CFileInfo::TryNextParser`).
#pragma once

#include <3dzan/foundation/customdata.h>
#include <3dzan/foundation/files.h>
#include <3dzan/foundation/plugin_abi.h>

#include <cstdarg>
#include <memory>
#include <vector>

/// \brief Flags of one operation (`CFileIo`).
enum FILE_PARSER_FLAGS : unsigned
{
    _FileParserRead = 0x1,       ///< the operation reads (imports); clear: it writes
    _FileParserSilent = 0x2,     ///< no dialog, no wait cursor, no saved parameters
    _FileParserShowDialog = 0x4, ///< always show the options dialog
    _FileParserOptionsOnly = 0x8 ///< only the options are edited: no file takes part
};

/// \brief Result of an operation (`CFileIo::SetIoError`). 1 is success; 0 and the negative
///        values are failures.
enum IO_FILE_RESULT : int
{
    _IoResultOk = 1,             ///< the operation succeeded (the initial result)
    _IoResultFailed = 0,         ///< the operation failed without a more precise reason
    _IoResultFileNotFound = -1,  ///< the file does not exist or cannot be opened
    _IoResultNotSupported = -2,  ///< no parser handles the format or this operation on it
    _IoResultReadError = -3,     ///< reading the file failed part way
    _IoResultWriteError = -4,    ///< writing the file failed part way
    _IoResultParserError = -5,   ///< the parser stopped on an unexpected error (exception)
    _IoResultUnknownFormat = -6, ///< the file's format is not registered
    _IoResultBadFormat = -7,     ///< the content does not follow its format
    _IoResultNothingToSave = -8, ///< what was to be written turned out empty
    _IoResultAccessDenied = -9,  ///< the system refused access to the file
    _IoResultEmptyResult = -10,  ///< the file was read but held nothing usable
    _IoResultCancelled = -11     ///< the user cancelled
};

/// \brief Levels of log lines and of results; masks combine them (255: every level).
enum _IO_LOG_LEVEL : unsigned
{
    _IoLevelInfo = 0x1,
    _IoLevelWarning = 0x2,
    _IoLevelError = 0x4,
    _IoLevelAll = 0xFF
};

/// \brief Flags of `CIoOptions`.
enum IoOptionsFlags : unsigned
{
    _IoOptionsEditDefaults = 0x2,  ///< the options are edited as stored defaults (no file)
    _IoOptionsInOperation = 0x4,   ///< the options dialog is shown during a real operation
    _IoOptionsShowReport = 0x10000 ///< show the report of the operation when it ends
};

/// \brief Whether a parser wants its options dialog shown (`CFileParser::MustShowDialog`).
enum IoShowDialog : int
{
    _IoShowDialogNo = 0,      ///< do not show it (silent operation, or nothing to edit)
    _IoShowDialogIfAsked = 1, ///< show it when the caller asks for it
    _IoShowDialogYes = 2      ///< show it: the operation always shows its options
};

/// \brief Options of one read or write, with the persistent values and the operation's log.
///
/// Format-specific option classes derive from it; their persistent part lives in the
/// `CCustomData` (`GetCustomData`), which is what the per-format parameters store keeps.
class ZAN_API CIoOptions
{
public:
    /// \brief Options for a read (\p import true) or a write, with the flags \p flags
    ///        (`IoOptionsFlags`).
    explicit CIoOptions(bool import, unsigned flags = 0);
    virtual ~CIoOptions();
    CIoOptions(const CIoOptions&) = default;
    CIoOptions& operator=(const CIoOptions&) = default;

    /// \brief Whether these options are for a read.
    bool IsImport() const { return m_Import; }

    void SetFlag(unsigned flag, bool set = true)
    {
        m_Flags = set ? (m_Flags | flag) : (m_Flags & ~flag);
    }
    /// \brief Whether every bit of \p flag is set.
    bool IsFlagSet(unsigned flag) const { return (m_Flags & flag) == flag; }
    /// \brief Whether one bit of \p flag at least is set.
    bool IsOneFlagSet(unsigned flag) const { return (m_Flags & flag) != 0; }
    unsigned GetFlags() const { return m_Flags; }

    /// \brief The persistent values.
    CCustomData& GetCustomData() { return m_CustomData; }
    const CCustomData& GetCustomData() const { return m_CustomData; }

    /// \brief Adds one printf-formatted line to the log at \p level (`_IoLevelInfo`,
    ///        `_IoLevelWarning` or `_IoLevelError`).
    /// \return false, and nothing logged, when \p level is not one of the three or
    ///         \p format is null. Past 10000 lines, lines are counted
    ///         (`GetDroppedLogCount`) but no longer kept; the level mask still grows.
    bool AddLogInfo(unsigned level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    bool AddLogInfoV(unsigned level, const char* format, va_list args);
    /// \brief Number of lines kept.
    int GetLogCount() const { return int(m_Log.size()); }
    /// \brief Line \p index and its level.
    /// \throw CXInvalidArgException when \p index is outside [0, GetLogCount()).
    const CXTString& GetLogLine(int index, unsigned& level) const;
    /// \brief The OR of the levels of every line logged since the last ClearLog.
    unsigned GetLogLevelMask() const { return m_LogLevelMask; }
    /// \brief Lines logged but not kept because the log was full.
    int GetDroppedLogCount() const { return m_DroppedLogCount; }
    /// \brief The lines whose level is in \p levelMask, each ending with a newline.
    CXTString GetLogText(unsigned levelMask = _IoLevelAll) const;
    void ClearLog();

    /// \brief Takes stored values; the base copies \p data into the persistent values.
    virtual void InitFromSavedPrefs(const CCustomData& data);
    /// \brief The values to store; the base returns a copy of the persistent values.
    virtual CCustomData SaveToSavedPrefs();

private:
    struct CLogLine
    {
        unsigned m_Level;
        CXTString m_Text;
    };

    bool m_Import;
    unsigned m_Flags;
    CCustomData m_CustomData;
    std::vector<CLogLine> m_Log;
    unsigned m_LogLevelMask = 0;
    int m_DroppedLogCount = 0;
};

class CFileIo;

/// \brief Base of format parsers: one object reads or writes one file for one `CFileIo`.
///
/// The operation owns its parser and deletes it through this class.
class ZAN_API CFileParser
{
public:
    /// \brief A parser working for \p io (not owned; the operation outlives its parser).
    explicit CFileParser(CFileIo* io);
    virtual ~CFileParser();
    CFileParser(const CFileParser&) = delete;
    CFileParser& operator=(const CFileParser&) = delete;

    /// \brief The operation the parser works for.
    CFileIo* GetFileIo() const { return m_FileIo; }
    /// \brief The format class of the operation; 0 when it has none.
    unsigned GetClass() const;

    /// \brief Whether the options dialog should be shown. The base answers from the
    ///        operation's flags: silent gives No, "always show" gives Yes, else IfAsked.
    virtual IoShowDialog MustShowDialog();
    /// \brief Fills \p options with the format's defaults; the base does nothing.
    virtual void FillDefaultOptions(CIoOptions* options);

    /// \brief Sets the operation's result (`CFileIo::SetIoError`).
    void SetIoError(int result, unsigned level);

private:
    CFileIo* m_FileIo;
};

/// \brief What the format registry knows of one file: its name, format class, kind, and
///        the parsers that can serve it.
///
/// The class is the one the name carries, else the one registered for its extension when
/// the object is built. The parsers are the factories registered for that class, in
/// registration order; the current one is where `CFileIo::InitParser` starts looking.
class ZAN_API CFileInfo
{
public:
    explicit CFileInfo(const CFileNameSpec& name);
    /// \brief A file known by its format only (no name).
    explicit CFileInfo(unsigned classCode);
    virtual ~CFileInfo();
    CFileInfo(const CFileInfo&) = default;
    CFileInfo& operator=(const CFileInfo&) = default;

    /// \brief The name, with its class code resolved.
    const CFileNameSpec& GetFileNameSpec() const { return m_Name; }
    /// \brief The complete file name.
    const CXTString& GetFileName() const { return m_Name.GetFileName(); }
    /// \brief The folder of the file, with its trailing separator.
    CXTString GetFilePath() const { return m_Name.GetFolder(); }
    bool IsURL() const { return m_Name.IsURL(); }
    /// \brief Whether the file exists as a regular file.
    bool Exists() const;

    /// \brief The format class; 0 when unknown.
    unsigned GetClass() const { return m_Name.GetClass(); }
    /// \brief The kind bits of the format (`_FileKind...`); 0 when unknown.
    unsigned GetKind() const;
    /// \brief Copies the format's record. \return false when the class is not registered.
    bool GetFileExt(CFileExt& out) const;

    /// \brief Number of factories registered for the class now.
    int GetParserNbr() const;
    /// \brief Index of the current parser among them.
    int GetParserIndex() const { return m_ParserIndex; }
    /// \brief Whether a parser after the current one could be tried.
    bool CanTryAnotherParser() const;
    /// \brief Moves to the next parser. \return false, nothing changed, when there is none.
    bool TryNextParser();

protected:
    /// Where `CFileIo::InitParser` starts; it moves to the parser that accepted.
    int m_ParserIndex = 0;

private:
    CFileNameSpec m_Name;
};

/// \brief One read or write operation on a file (or on a format's options only).
///
/// It owns the parser that serves it (`InitParser`, `CloseParser`), carries the result of
/// the operation and reports it.
class ZAN_API CFileIo : public CFileInfo
{
public:
    /// \brief An operation on \p file with the flags \p flags (`FILE_PARSER_FLAGS`).
    CFileIo(const CFileNameSpec& file, unsigned flags);
    /// \brief An operation on a format without a file (options, defaults).
    CFileIo(unsigned classCode, unsigned flags);
    /// \brief Deletes the parser.
    ~CFileIo() override;
    CFileIo(const CFileIo&) = delete;
    CFileIo& operator=(const CFileIo&) = delete;

    void SetFlag(unsigned flag, bool set = true)
    {
        m_Flags = set ? (m_Flags | flag) : (m_Flags & ~flag);
    }
    bool IsFlagSet(unsigned flag) const { return (m_Flags & flag) == flag; }
    unsigned GetFlags() const { return m_Flags; }
    bool IsReading() const { return (m_Flags & _FileParserRead) != 0; }
    bool IsSilent() const { return (m_Flags & _FileParserSilent) != 0; }

    /// \brief The parser of the operation, created when needed: from the current parser on,
    ///        the factories of the class are asked in order and the first parser made is
    ///        kept (the current parser becomes that factory's).
    /// \return the parser (owned by the operation), or null when none was made; the result
    ///         of the operation is not changed, so that a derived operation can try its own
    ///         parsers first.
    virtual CFileParser* InitParser();
    /// \brief Deletes the parser (the next InitParser makes a new one).
    virtual void CloseParser();
    /// \brief The current parser, or null.
    CFileParser* GetFileParser() const { return m_Parser.get(); }
    /// \brief Makes \p parser, built on this operation, the operation's parser (owned from
    ///        now on); the previous one is deleted. Null only deletes.
    void SetFileParser(CFileParser* parser);

    /// \brief Sets the result (`IO_FILE_RESULT`) and the level it is reported at.
    void SetIoError(int result, unsigned level)
    {
        m_Result = result;
        m_ResultLevel = level;
    }
    int GetIoError() const { return m_Result; }
    unsigned GetIoErrorLevel() const { return m_ResultLevel; }
    /// \brief Whether the result is success.
    bool IsIoOk() const { return m_Result == _IoResultOk; }
    /// \brief The readable text of a result (English).
    static const char* GetIoResultText(int result);

    /// \brief The report of the operation: the result when its level is in \p levelMask,
    ///        then the lines of \p options' log (may be null) whose level is in it.
    /// \return the text; empty when nothing is in the mask.
    CXTString FormatIoReport(const CIoOptions* options, unsigned levelMask) const;
    /// \brief Reports the operation (`FormatIoReport`). Unless the operation is silent, a
    ///        report that holds an error or a warning, or that \p options ask for
    ///        (`_IoOptionsShowReport`), is shown in a message box (`ZanMessageBox`, which
    ///        logs it; its caption is the file's name); any other report goes to the log file.
    /// \return false when there was nothing to report.
    bool ReportIoError(const CIoOptions* options, unsigned levelMask);
    bool ReportIoError(unsigned levelMask) { return ReportIoError(nullptr, levelMask); }
    /// \brief The last report made by ReportIoError (empty before the first).
    const CXTString& GetLastIoReport() const { return m_LastReport; }

    /// \brief Reads the stored parameters of a format into \p data.
    /// \return false, \p data unchanged, when none are stored for that class and direction,
    ///         the class is 0, or the store cannot be read.
    static bool LoadIoParameters(bool import, CCustomData& data, unsigned classCode);
    /// \brief Stores the parameters of a format for reading (\p import) or writing; the
    ///        other direction's parameters are kept.
    /// \return false, the store unchanged, when the class is 0 or the store cannot be written.
    static bool SaveIoParameters(bool import, const CCustomData& data, unsigned classCode);
    /// \brief The file that holds the stored parameters of \p classCode: one file per format
    ///        in the configuration folder (`GetConfigDirectory`), named after the class
    ///        ("format-3DIF.prefs", or its hexadecimal value when the code is not made of
    ///        letters and digits); empty when there is no configuration folder.
    static CXTString GetIoParametersFile(unsigned classCode);

private:
    unsigned m_Flags;
    int m_Result = _IoResultOk;
    unsigned m_ResultLevel = 0;
    std::shared_ptr<void> m_ParserModule;  ///< keeps the plug-in of the parser loaded
    std::unique_ptr<CFileParser> m_Parser; ///< declared after: destroyed first
    CXTString m_LastReport;
};

// ---------------------------------------------------------------------------- factories

/// \brief Registers a parser factory of the library for \p classCode (plug-ins register
///        theirs through the plug-in host). Factories of one class are tried in the order
///        they were registered.
/// \return false when \p classCode is 0, \p factory null, or this factory is already
///         registered for the class with the same \p userData.
ZAN_API bool fileRegisterParserFactory(unsigned classCode, ZanParserFactory factory,
                                       void* userData = nullptr);
/// \brief Removes a factory registered with fileRegisterParserFactory.
/// \return false when it was not registered for that class.
ZAN_API bool fileUnregisterParserFactory(unsigned classCode, ZanParserFactory factory,
                                         void* userData = nullptr);
/// \brief Number of factories registered for \p classCode.
ZAN_API int fileGetParserFactoryNbr(unsigned classCode);

// ---------------------------------------------------------------------------- plug-ins

/// \brief A loaded plug-in, as GetLoadedPlugins lists it.
struct ZAN_API CIoPluginInfo
{
    CXTString m_Path;      ///< canonical path of the shared object
    CXTString m_Name;      ///< the name the plug-in gave, else its file name
    unsigned m_Family = 0; ///< the family it was loaded for
    int m_FileTypeNbr = 0; ///< file types it registered that the registry accepted
    int m_FactoryNbr = 0;  ///< parser factories it registered
};

/// \brief Loads the format plug-ins (`*.so`) of the folders in \p path, for \p family
///        (`_FileKind3D` for 3D formats).
///
/// \p path is a folder or a ':'-separated list; null or empty means the default folders:
/// each entry of the environment variable `ZAN3D_PLUGIN_PATH` when it is set and not empty,
/// else `plugins/` next to the library. Files are loaded in name order. A plug-in already
/// loaded (same file, whatever the path that names it) is not loaded again. A folder that
/// is missing or unreadable is skipped silently; a shared object that cannot be loaded,
/// lacks the entry point, reports another ABI version or fails is skipped; the reason is
/// written to the log file and kept (`GetPluginLoadErrors`).
/// \return the number of plug-ins loaded by this call.
ZAN_API int RegisterIOPlugins(unsigned family, const char* path);
/// \brief Frees the plug-ins loaded for a family that intersects \p family: their formats
///        and factories are unregistered, their exit function is called and they are
///        unloaded (once the last parser they made is deleted).
/// \return the number of plug-ins freed.
ZAN_API int FreeIOPlugins(unsigned family);
/// \brief The plug-ins loaded now, in load order.
ZAN_API CXArray<CIoPluginInfo> GetLoadedPlugins();
/// \brief What went wrong during the last RegisterIOPlugins call, one line per problem,
///        "path: reason": plug-ins skipped, and file types of loaded plug-ins that the
///        registry refused.
ZAN_API CXArray<CXTString> GetPluginLoadErrors();
/// \brief The folders that an empty path stands for, in search order.
ZAN_API CXArray<CXTString> GetDefaultPluginFolders();
