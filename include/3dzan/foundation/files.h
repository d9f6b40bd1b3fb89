/// \file files.h
/// \brief File names, the process-wide format registry (`CFileExt` records) and the path
///        and file functions.
///
/// Paths are UTF-8 and use '/' as separator. A *folder* as these functions return it ends
/// with a separator ("/a/b/"), so that folder + name is a path; a *name* is the last
/// component of a path ("c.obj"); an *extension* starts with its dot (".obj") and is
/// compared without regard to ASCII case.
///
/// Format registry. Each format is one `CFileExt` record: a description, its extensions,
/// a four-character class code, a flags word that holds the format's kind (bits 12 to 19)
/// and what its parsers can do, and two plug-in codes. A class code and an extension belong
/// to one record at most; registering never replaces a record (the first one stays), so a
/// format that a plug-in registered wins over the library's own fallback for it. Every
/// registry function may be called from any thread.
#pragma once

#include <3dzan/foundation/xarray.h>
#include <3dzan/foundation/xstring.h>

/// \brief The flags word of a format (`CFileExt::m_Flags`): what its parsers can do in the
///        low bits (0 to 11), the format's kind in bits 12 to 19.
///
/// A kind says what a file holds, whatever its format. Masks select several kinds at once:
/// `_FileKindImageMask` (0x13000) accepts any image. Kinds and capabilities share one
/// enumeration so that a flags word can be written `_FileKind3D | _FileExtRead`.
enum _FILE_EXT_FLAGS : unsigned
{
    // Capabilities.
    _FileExtRead = 0x1,      ///< files of the format can be read (imported)
    _FileExtWrite = 0x2,     ///< files of the format can be written (exported)
    _FileExtUpdate = 0x4,    ///< a writer can update a file it read instead of replacing it
    _FileExtNoFile = 0x8,    ///< no file takes part: the data comes from a live application
    _FileExtExternal = 0x10, ///< an external application, maybe missing, does the work

    // Kinds.
    _FileKindNone = 0,
    _FileKindBitmap = 0x1000,     ///< a single raster image (PNG, JPEG, BMP, TGA)
    _FileKindMultiImage = 0x2000, ///< several raster images or layers in one file (TIFF, GIF)
    _FileKind3D = 0x4000,         ///< a 3D scene; also the plug-in family of 3D formats
    _FileKindHdrImage = 0x10000,  ///< a floating-point or high-dynamic-range image (HDR, EXR)
    _FileKindImageMask = 0x13000, ///< every image kind
    _FileKindMask = 0xFF000       ///< the bits of the flags word that hold the kind
};

/// \brief A file name and the class code of its format.
///
/// The class code is the four-character code of the file's format (`ZanTag("3DIF")`);
/// 0 means "not known yet: find it from the extension".
class ZAN_API CFileNameSpec
{
public:
    CFileNameSpec() = default;
    CFileNameSpec(const char* fileName, unsigned classCode = 0);
    CFileNameSpec(const CXTString& fileName, unsigned classCode = 0);

    /// \brief The complete file name, as given.
    const CXTString& GetFileName() const { return m_FileName; }
    void SetFileName(const CXTString& fileName) { m_FileName = fileName; }
    /// \brief The class code of the format; 0 when not known.
    unsigned GetClass() const { return m_Class; }
    void SetClass(unsigned classCode) { m_Class = classCode; }

    /// \brief The folder with its trailing separator ("/a/b/"); empty for a bare name.
    CXTString GetFolder() const;
    /// \brief The last component of the name ("c.obj"); empty when it ends with '/'.
    CXTString GetName() const;
    /// \brief The name without its extension ("c").
    CXTString GetBaseName() const;
    /// \brief The extension with its dot (".obj") as written; empty when there is none.
    CXTString GetExtension() const;
    /// \brief Whether the extension is \p extension, ignoring ASCII case; the dot is optional.
    bool HasExtension(const char* extension) const;
    /// \brief Replaces the extension (or adds one); \p extension may omit the dot; an empty
    ///        extension removes it.
    /// \return false, and nothing changed, when the name is empty or ends with '/'.
    bool SetExtension(const char* extension);

    /// \brief Whether no file name is held (the class code may still be set).
    bool IsEmpty() const { return m_FileName.IsEmpty(); }
    /// \brief Whether the name is a URL ("scheme://...").
    bool IsURL() const;

    /// \brief Same file name (byte for byte) and same class code.
    bool operator==(const CFileNameSpec& other) const
    {
        return m_Class == other.m_Class && m_FileName == other.m_FileName;
    }
    bool operator!=(const CFileNameSpec& other) const { return !(*this == other); }

private:
    CXTString m_FileName;
    unsigned m_Class = 0;
};

/// \brief One format of the registry.
///
/// The extension field holds one extension or a ';'-separated list (".gltf;.glb"), each
/// with or without its dot; the first is the main extension. Blanks around an item and
/// empty items are ignored. A format may have none (a bridge to a live application is
/// reached by class code only).
struct ZAN_API CFileExt
{
    CXTString m_Description;    ///< user-visible name of the format ("Wavefront OBJ files")
    CXTString m_Extensions;     ///< ".obj" or ".gltf;.glb"
    unsigned m_Class = 0;       ///< four-character class code; never 0 in the registry
    unsigned m_Flags = 0;       ///< kind | capabilities (`_FILE_EXT_FLAGS`)
    unsigned m_ReadPlugin = 0;  ///< code of the plug-in family that reads the format
    unsigned m_WritePlugin = 0; ///< code of the plug-in family that writes the format

    CFileExt() = default;
    CFileExt(const char* description, const char* extensions, unsigned classCode, unsigned flags,
             unsigned readPlugin = 0, unsigned writePlugin = 0);

    /// \brief The kind bits (`m_Flags & _FileKindMask`).
    unsigned GetKind() const { return m_Flags & _FileKindMask; }
    bool CanRead() const { return (m_Flags & _FileExtRead) != 0; }
    bool CanWrite() const { return (m_Flags & _FileExtWrite) != 0; }
    /// \brief The first extension, with its dot and lower-cased; empty when there is none.
    CXTString GetMainExtension() const;
    /// \brief Every extension, with its dot and lower-cased, in the order written, each
    ///        once. Malformed items are left out.
    CXArray<CXTString> GetExtensionList() const;
    /// \brief Whether \p extension (dot optional, any ASCII case) is one of the format's.
    bool HasExtension(const char* extension) const;

    bool operator==(const CFileExt& other) const;
    bool operator!=(const CFileExt& other) const { return !(*this == other); }
};

// ---------------------------------------------------------------------------- registry

/// \brief Adds a format to the registry.
/// \return true when the record was added, or when this very record (every field equal)
///         was already registered by the caller's side (the library, not a plug-in).
///         false, with the registry unchanged, when the class code is 0, an extension is
///         malformed (a lone dot, or holding '/', '\\', '*', '?' or a blank), or the
///         class code or one of the extensions already belongs to another record: the
///         record registered first is kept untouched.
ZAN_API bool fileRegisterFile(const CFileExt& record);
/// \brief Removes the format of that class code (and nothing else: parser factories stay).
/// \return false when no format has that class code.
ZAN_API bool fileUnregisterFile(unsigned classCode);
/// \brief The format that owns \p extension (any ASCII case, dot optional; a full file name
///        is not accepted: pass its extension); null when none does.
///
/// The record stays valid until it is unregistered (`fileUnregisterFile`, or
/// `FreeIOPlugins` for the formats of a plug-in); prefer `fileGetExtensionInfo`, which
/// copies, when another thread may unregister formats.
ZAN_API const CFileExt* fileGetFileExt(const char* extension);
/// \brief Copies the format of \p classCode into \p out.
/// \return false, \p out unchanged, when the class is not registered.
ZAN_API bool fileGetExtensionInfo(unsigned classCode, CFileExt& out);
/// \brief The class code of the format of \p fileName's extension; 0 when unknown.
ZAN_API unsigned fileGetClassOf(const char* fileName);
/// \brief The kind bits of the format of \p fileName's extension (`_FileKind...`); 0 when the
///        extension is unknown or the name has none. Mask the result to test a kind family.
ZAN_API unsigned fileGetKindOf(const char* fileName);
/// \brief Copies of the registered formats whose kind intersects \p kindMask (every format
///        when \p kindMask is 0), in registration order.
ZAN_API CXArray<CFileExt> fileGetRegisteredFormats(unsigned kindMask = 0);

// ---------------------------------------------------------------------------- paths

/// \brief Whether \p path names an existing regular file (symbolic links are followed).
/// \brief Replaces the file \p path by \p size bytes: they are written to a temporary file
///        in the same folder, synchronised, then renamed over the target, so that a failure
///        leaves the old file as it was. The new file has mode 0600.
/// \return false (errno set) when the file could not be written; no temporary file is left.
ZAN_API bool fileWriteAtomic(const char* path, const void* data, size_t size);

ZAN_API bool fileExists(const char* path);
/// \brief Whether \p path names an existing folder (symbolic links are followed).
ZAN_API bool fileDirectoryExists(const char* path);
/// \brief Whether two folder names designate the same folder.
///
/// Trailing separators, "." and ".." do not matter; relative names are taken from the
/// current folder. When both exist, they are the same folder when the system says so
/// (symbolic links and other aliases resolved); a name that does not exist is compared by
/// its normalised text, after resolving the part of it that exists. Empty or null names
/// designate no folder: the answer is false.
ZAN_API bool fileCompareDirectory(const char* folder1, const char* folder2);
/// \brief Shortens \p path for display to at most \p maxChars characters (Unicode code
///        points, never a partial UTF-8 sequence).
///
/// A path that fits is returned unchanged. Otherwise folders are replaced by "...": the
/// root and the first folder are kept when they fit, then as many folders next to the
/// name as fit ("/home/.../scenes/big/file.obj"). The name is kept whole whenever it fits
/// alone; a name longer than \p maxChars keeps its start and its extension around "...".
/// Limits below 4 give the first \p maxChars characters of the name; 0 or less gives "".
ZAN_API CXTString fileCompactPath(const char* path, int maxChars);
/// \brief The folder of \p path with its trailing separator; empty for a bare name.
///        For a URL the "scheme://" part belongs to the folder.
ZAN_API CXTString fileGetFolder(const char* path);
/// \brief The last component of \p path; empty when \p path ends with '/'.
///        `fileGetFolder(p) + fileGetName(p)` is always \p p.
ZAN_API CXTString fileGetName(const char* path);
/// \brief The extension of \p path's name, with its dot, as written. A name that starts
///        with its only dot (".profile") or ends with a dot has none.
ZAN_API CXTString fileGetExtension(const char* path);
/// \brief \p folder and \p name joined with one separator; \p name alone when it is absolute
///        or \p folder is empty.
ZAN_API CXTString fileMakePath(const char* folder, const char* name);
/// \brief \p name resolved against \p folder, with "." and ".." removed from the text;
///        an absolute \p name is only normalised. The result is relative when \p folder is.
ZAN_API CXTString fileMakeAbsolutePath(const char* folder, const char* name);
/// \brief A name, in \p folder, that no file or folder takes yet: \p name itself when it is
///        free, else "stem_1.ext", "stem_2.ext", ... (the first free one).
/// \return the name (without the folder); empty when \p name is empty, holds '/', or no
///         free name was found in 100000 tries. Another process may still take the name
///         before the caller creates the file.
ZAN_API CXTString fileMakeUniqueName(const char* folder, const char* name);
/// \brief Whether \p path can name a file here: not empty, no control character, each
///        component at most 255 bytes and the whole below 4096 bytes.
ZAN_API bool fileIsValidFileName(const char* path);
/// \brief Copies \p src into \p dst (\p dst is emptied first unless \p append is true).
/// \return the size of \p dst afterwards. \p dst and \p src may be the same array.
ZAN_API int CopyStringArray(CXArray<CXTString>& dst, const CXArray<CXTString>& src,
                            bool append = false);
