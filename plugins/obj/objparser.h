// Wavefront OBJ scenes with their MTL material libraries: the parser the plug-in registers
// for the class "OBJ ", and the reader's entry on text held in memory (fuzzing, benchmarks).
#pragma once

#include <3dzan/foundation/services.h>
#include <3dzan/io/io3d.h>

#include <cstddef>
#include <string>

class C3DScene;

/// \brief The four-character class code of OBJ files.
constexpr unsigned kClassOBJ = 0x4F424A20; // "OBJ "

/// \brief How ReadObjText reads.
struct CObjReadSettings
{
    /// Name of the objects of faces without a named object (the file name without folder
    /// and extension, for a file).
    std::string m_DefaultName = "Object";
    /// Folder the material libraries are looked for in (with or without its trailing '/');
    /// empty: material libraries are not read (materials keep default parameters).
    std::string m_MaterialFolder;
    /// Threads the parse may use; texts below 4 MB are always parsed on one.
    int m_ThreadCount = 2;
    /// The text is a read-only mapping of a file (CMappedFile): the pages already parsed are
    /// given back to the system as the parse goes (never set this for text in memory).
    bool m_TextIsFileMapping = false;
    /// Told of the bytes parsed every few megabytes (from the parsing threads, through
    /// CProgressTask::Advance, so its range should be 0 to the text's size); when it asks to
    /// stop, the read fails with _IoResultCancelled. Null: no progress is reported.
    CProgressTask* m_Progress = nullptr;
};

/// \brief Reads OBJ text held in memory.
///
/// Statements read: `v` (x y z, an optional w, and an optional r g b vertex colour), `vt`,
/// `vn`, `f` (v, v/vt, v//vn, v/vt/vn, negative indices counting back from the last element
/// read, any number of corners), `o` and `g` (objects), `usemtl`, `mtllib`; `\` at the end of a
/// line joins the next one; comments, blank lines, `l`, `p` and every other statement are
/// skipped. Faces may name elements defined later in the file.
///
/// The scene has one node per object, in order of first use; an object keeps the points its
/// faces use, in order of first use. Texture coordinates (CUVWChannel), file normals
/// (CSpecNormalChannel) and vertex colours (CVCChannel) become per-corner channels whose faces
/// follow the object's; a face without texture coordinates gets a channel face marked
/// _FaceExcluded, a face without normals corners whose normal is _NormalUndefined. All texture
/// channels share one channel ID, which the materials' diffuse maps name.
///
/// \param log receives one line at level 4 on failure (with the line number for a statement
///        that cannot be read) and level-2 lines for missing material libraries and materials.
/// \param result receives 1 on success, _IoResultBadFormat for text that is not OBJ,
///        _IoResultEmptyResult when there is no face, _IoResultReadError when memory is short,
///        _IoResultCancelled when the progress task asked to stop.
/// \return a new scene held by the caller, or null on failure.
C3DScene* ReadObjText(const char* data, size_t size, const CObjReadSettings& settings,
                      CIoOptions* log, int& result);

/// \brief The OBJ format: reads .obj files (with their .mtl libraries) and writes them.
///
/// *Reading* (ReadObjText on the mapped file): no option is forced and none is set by
/// default; the import checkout acts on whatever the caller asks.
///
/// *Writing*: _ExportGlobalCoordinates is forced, because OBJ has no transformations: each
/// node's object is written with its node's world transformation applied. No other flag is
/// set by default. For each geometric node: `o` with the node's name (made unique in the
/// file), its points (`v`, with the vertex colours when the object has a colour channel: the
/// colour of the last corner at each point), its first texture channel (`vt`), its specified
/// normals (`vn`), then `usemtl` at each change of material and `f` with the elements each
/// face has. The materials used go to a library beside the file (same name, ".mtl"): `Kd`,
/// `Ka`, `Ks`, `Ns`, `d`, `illum` and the diffuse map's `map_Kd` (and `map_d` for its alpha
/// image). Both files are written through temporary files renamed over the targets only when
/// complete.
class CObjParser : public C3DParser
{
public:
    /// Material custom-data ids keeping the MTL values the material model has no place for.
    static constexpr unsigned kShininessID = 0x4F424E53;    ///< "OBNS" float, `Ns`
    static constexpr unsigned kIlluminationID = 0x4F42494C; ///< "OBIL" int, `illum`

    explicit CObjParser(CFileIo* io);
    using C3DParser::LoadDefaultOptions;
    ~CObjParser() override;

    void LoadDefaultOptions(CSceneImportOptions* options) override;
    C3DScene* Read(const CXTString& fileName, CSceneImportOptions* options) override;
    void SaveDefaultOptions(CSceneExportOptions* options) override;
    bool Save(const CXTString& fileName, C3DScene* scene, CSceneExportOptions* options) override;
};

/// \brief Writes \p scene as OBJ text to \p objPath and its materials to \p mtlPath (named in
///        the OBJ's `mtllib` by its file name). Node transformations are not applied: the
///        export preparation bakes them in.
/// \return false, with \p error set and both targets unchanged, when a file cannot be written.
bool WriteObjFiles(const C3DScene& scene, const std::string& objPath, const std::string& mtlPath,
                   std::string& error);
