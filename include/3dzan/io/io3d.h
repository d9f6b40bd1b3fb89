/// \file io3d.h
/// \brief The front end of scene files: C3DIo (one read or save of a scene), C3DParser (the
///        base of every scene format) and C3DIFIo (the native archive format, ".3dif").
///
/// *Reading* (C3DIo::Read): the parser is found (plug-ins first, then the library's own
/// classes), fills in its default options, may show its options dialog, reads the file
/// (timed, one line in the log file), and the scene read goes through the import checkout
/// (C3DScene::CheckoutImport). A scene without any node is a failure (-10). When a parser
/// fails and another one is registered for the same format, the next one is tried.
///
/// *Saving* (C3DIo::Save): the parser's default options are applied, a working copy of the
/// scene is prepared for the format (C3DScene::InitExport), written by the parser (or the
/// file the scene came from is updated, when the parser can), then released. The caller's
/// scene is never changed, except its file name after a successful save.
///
/// *Results* (CFileIo::SetIoError, IO_FILE_RESULT): 1 a save succeeded; 0 a save failed
/// without a more precise result; -1 the file does not exist or cannot be opened; -2 no
/// parser for the format, or the parser does not save; -5 the parser raised an exception
/// (raised again after the report); -8 the export copy is empty; -10 a scene read has no
/// node; -11 the user cancelled the options dialog.
#pragma once

#include <3dzan/foundation/fileio.h>
#include <3dzan/scene/sceneoptions.h>

class C3DScene;

/// \brief Four-character class codes of the formats the library resolves itself.
constexpr unsigned kClass3DIF = 0x33444946; ///< "3DIF", the native archive (C3DIFIo)
constexpr unsigned kClass3MAX = 0x334D4158; ///< "3MAX", the 3ds Max bridge
constexpr unsigned kClassMAYA = 0x4D415941; ///< "MAYA", the Maya bridge
constexpr unsigned kClassXSI = 0x58534920;  ///< "XSI ", not served by this build

/// \brief The base of scene formats. A format overrides Read and/or Save, sets its forced
///        and default flags (and, for writing, its limits, unit and name rules) in the
///        default-options operations, and may leave parser data on the scenes it reads
///        (C3DScene::SetParserData) so that a later save can update the file it came from.
class ZAN_API C3DParser : public CFileParser
{
public:
    explicit C3DParser(CFileIo* io);
    ~C3DParser() override;

    C3DScene* GetScene() const { return m_Scene; }
    void SetScene(C3DScene* scene) { m_Scene = scene; }

    /// \brief The foundation's answer (from the operation's flags).
    IoShowDialog MustShowDialog() override;
    /// \brief Fills \p options with the format's reading defaults; the base does nothing.
    virtual void LoadDefaultOptions(CSceneImportOptions* options);
    /// \brief The reading options dialog; the base has none and accepts.
    virtual bool LoadOptionsDialog(CSceneImportOptions* options);
    /// \brief One line describing \p options.
    virtual CXTString GetLoadParametersInfo(CSceneImportOptions* options);
    /// \brief Reads \p fileName; a new scene held by the caller, or null (the base).
    virtual C3DScene* Read(const CXTString& fileName, CSceneImportOptions* options);
    /// \brief Fills \p options with the format's writing defaults; the base does nothing.
    virtual void SaveDefaultOptions(CSceneExportOptions* options);
    /// \brief The writing options dialog. The export settings sheet belongs to the viewer;
    ///        without a viewer (command line, tests, silent operations) the options are
    ///        accepted as they stand.
    virtual bool SaveOptionsDialog(CSceneExportOptions* options);
    /// \brief "using default parameters\n" when the flags equal the default flags with the
    ///        forced flags, else "using custom parameters\n".
    virtual CXTString GetSaveParametersInfo(CSceneExportOptions* options);
    /// \brief Writes \p scene to \p fileName; the base cannot (result -2) and returns false.
    virtual bool Save(const CXTString& fileName, C3DScene* scene, CSceneExportOptions* options);
    /// \brief Whether the file a scene was read from, described by \p parserData (null: any
    ///        file of the format), can be updated in place. The base cannot.
    virtual bool CanUpdate(void* parserData) const;
    /// \brief Updates the file a scene came from; the base saves (Save).
    virtual bool Update(const CXTString& fileName, C3DScene* scene, void* parserData,
                        CSceneExportOptions* options);
    /// \brief Frees parser data this format left on a scene. The base has none: false.
    virtual bool ReleaseParser(bool import, void* parserData);

    /// \brief The foundation's entry, forwarded to LoadDefaultOptions or SaveDefaultOptions
    ///        by the kind of \p options.
    void FillDefaultOptions(CIoOptions* options) override;

private:
    C3DScene* m_Scene = nullptr;
};

/// \brief One read or save of a scene file (or of a format's options only).
class ZAN_API C3DIo : public CFileIo
{
public:
    /// \param flags FILE_PARSER_FLAGS; \p parent the window dialogs belong to (may be null).
    C3DIo(const CFileNameSpec& file, unsigned flags, void* parent = nullptr);
    C3DIo(unsigned classCode, unsigned flags, void* parent = nullptr);
    ~C3DIo() override;

    /// \brief The registered parsers first, then the library's own classes: "3DIF" makes a
    ///        C3DIFIo; "XSI " shows its notice once per process (never when silent); the
    ///        bridges and every other class give result -2 and no parser.
    CFileParser* InitParser() override;
    void CloseParser() override;
    /// \brief Reads the file; a new scene held by the caller, or null (see the file comment).
    /// \param options may be null: local options with every field 0 are used.
    /// \throw whatever the parser raised, after the result -5 is set and reported.
    virtual C3DScene* Read(bool showDialog, CSceneImportOptions* options = nullptr);
    /// \brief Saves \p scene (see the file comment). \param options may be null.
    /// \throw whatever the parser raised, after the result -5 is set and reported.
    virtual bool Save(bool showDialog, C3DScene* scene, CSceneExportOptions* options = nullptr);

    /// \brief Checks that the file exists (not for URLs; result -1) and makes the parser.
    bool PrepareReading();
    bool PrepareSaving();
    /// \brief The parser as a scene parser; null when there is none or it is another kind.
    C3DParser* GetParser() const;
    bool IsPrepared() const { return m_Prepared; }

    /// \brief Whether a save of \p scene to the format \p classCode could update the file it
    ///        was read from (its parser data belongs to that format and the parser agrees).
    static bool CanUpdate(unsigned classCode, C3DScene* scene);
    /// \brief Asks the parser of \p classCode to free \p parserData. false when no parser
    ///        resolves or it has nothing to free.
    static bool ReleaseParser(bool import, unsigned classCode, void* parserData);
    /// \brief Edits the stored options of one 3D format; with \p preferences, the edited
    ///        "FLAG" (and "TXPT" for writing) are written back into them.
    /// \return the options dialog's answer; false for a class that is not a 3D format.
    static bool DisplayFormatDialog(unsigned classCode, bool import, CCustomData* preferences,
                                    void* parent = nullptr);
    /// \brief One line describing the options stored in \p preferences for \p classCode;
    ///        empty when no parser resolves.
    static CXTString GetParametersInfo(const CCustomData& preferences, unsigned classCode,
                                       bool import);

    /// \brief Whether the XSI notice was shown in this process (it is shown once).
    static bool WasXsiNoticeShown();

private:
    C3DScene* ReadWith(bool showDialog, CSceneImportOptions* given);
    bool m_Prepared = false;
    void* m_Parent;
};

/// \brief The native format: the scene's own archive (C3DScene::Serialize).
///
/// Reading loads the whole archive before the scene is handed out; a malformed or truncated
/// file gives result -7 (bad format) and no scene. Saving writes to a temporary file in the
/// destination folder and renames it over the target only once everything was written, so a
/// failed save leaves the old file as it was.
class ZAN_API C3DIFIo : public C3DParser
{
public:
    explicit C3DIFIo(CFileIo* io);
    ~C3DIFIo() override;
    C3DScene* Read(const CXTString& fileName, CSceneImportOptions* options) override;
    bool Save(const CXTString& fileName, C3DScene* scene, CSceneExportOptions* options) override;
    /// \brief Keeps every channel and material as it is: the archive holds them all.
    void SaveDefaultOptions(CSceneExportOptions* options) override;
};

/// \brief Registers the native format (".3dif", class "3DIF") in the format registry; done
///        once when the library loads. true when it is registered (by this call or before).
ZAN_API bool Register3DIFFileType();
