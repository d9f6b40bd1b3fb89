// The glTF 2.0 plug-in: its parser (".gltf" text with external or embedded buffers, ".glb"
// binary) and the reader and writer it calls, which tests and fuzz targets also call directly.
//
// What the reader keeps: the node tree of the default scene (else scene 0, else every root
// node) with each node's matrix or translation/rotation/scale as a matrix key at time 0; one
// object per mesh, shared by every node that uses it; triangles of the TRIANGLES,
// TRIANGLE_STRIP and TRIANGLE_FAN primitives (points, lines and loops are skipped); POSITION,
// NORMAL (specified normals), TEXCOORD_0 and TEXCOORD_1 (two texture channels, v turned
// upwards as 1 - v; a map's texCoord names its channel) and COLOR_0 (vertex colours); materials with their base colour factor (alpha as transparency)
// and the image of their base colour texture as the diffuse map; cameras (perspective with
// their field of view, aspect ratio and clip planes, or orthographic) and the punctual lights
// of KHR_lights_punctual (directional, point and spot, with colour, intensity, range and cone
// angles). A node holds one object: a camera or light of a node that also has a mesh (or a
// light beside a camera) goes to a child node named after it ("<node> camera", "<node> light").
//
// What it leaves out: sparse accessors (an accessor without a buffer view is refused), skins,
// morph targets, animations and every other material parameter. No other extension is
// understood; a file whose "extensionsRequired" names any is refused, except
// KHR_materials_unlit, which only changes the shading, and KHR_lights_punctual.
//
// The writer writes cameras and lights the same way (a clip distance the viewer chooses gets
// 0.01 near and, for an orthographic view, 1000 beyond it; an orthographic camera spans one
// unit vertically). Images held inside the file (data URIs
// or buffer views) are not extracted: the diffuse map then takes the name
// "embedded:<image name>" (or "embedded:image<index>"), which no file on disk matches.
#pragma once

#include <3dzan/io/io3d.h>

#include <cstddef>
#include <string>
#include <string_view>

class C3DScene;
class CProgressTask;

namespace zangltf
{
/// \brief The class code of the format ("GLTF").
constexpr unsigned kClassGLTF = ZanTag("GLTF");

/// \brief Where a read finds the files a ".gltf" names.
struct CGltfSource
{
    std::string_view m_Data;     ///< the whole file (text or binary; told apart by its magic)
    std::string m_Folder;        ///< folder of external buffers, with its separator
    std::string m_Name;          ///< the file's name without folder and extension
    bool m_AllowExternal = true; ///< false: buffers must be embedded (data URIs or GLB chunk)
    CProgressTask* m_Progress = nullptr; ///< counts the nodes read; a stop fails the read (-11)
};

/// \brief A failed read or write: the operation's result and one readable line.
struct CGltfError
{
    int m_Result = _IoResultBadFormat;
    std::string m_Message;
};

/// \brief Reads \p source into a new scene (one holder, the caller's).
/// \return null with \p error filled when the file is malformed or a buffer is missing.
C3DScene* ReadGltf(const CGltfSource& source, CGltfError& error);

/// \brief Writes \p scene to \p fileName: a ".glb" file when its extension says so, else a
///        ".gltf" with one buffer in "<name>.bin" beside it. Faces of more than three corners
///        are cut into fans. Both files replace their targets only once complete.
/// \return false with \p error filled when the scene has nothing to write or a file cannot be
///         written.
bool WriteGltf(C3DScene* scene, const std::string& fileName, CGltfError& error);

/// \brief The parser the plug-in registers for ".gltf" and ".glb".
class CGltfParser : public C3DParser
{
public:
    explicit CGltfParser(CFileIo* io) : C3DParser(io) {}
    C3DScene* Read(const CXTString& fileName, CSceneImportOptions* options) override;
    bool Save(const CXTString& fileName, C3DScene* scene, CSceneExportOptions* options) override;
    /// \brief Triangles only: the writer forces triangulation.
    void SaveDefaultOptions(CSceneExportOptions* options) override;
};
} // namespace zangltf
