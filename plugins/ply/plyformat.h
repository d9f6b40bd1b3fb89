// PLY files (ASCII, binary little and big endian): decoding from memory, encoding to bytes,
// and the scene parser.
//
// Reading keeps the "vertex" element (x y z; nx ny nz as specified normals; s t, u v,
// texture_u texture_v or texture_s texture_t as texture coordinates; red green blue [alpha]
// as colours, bytes or 0-1 reals) and the "face" element (the vertex_indices or vertex_index
// list, any count and item types). Every other element and property is skipped by its
// declared layout. One object, holding every vertex of the header.
//
// Writing: binary little endian by default; ASCII when the export flags carry
// kPlyExportAscii (a bit of the high word that the scene export leaves alone, stored with the
// format's options). Normals, texture coordinates and colours are written when present.
#pragma once

#include "meshscene.h"

#include <3dzan/io/io3d.h>

namespace zanply
{
constexpr unsigned kClassPLY = ZanTag("PLY ");
/// \brief Export flag: write ASCII PLY instead of binary little endian.
constexpr unsigned kPlyExportAscii = 0x01000000;

/// \brief Decodes PLY bytes into one mesh named \p defaultName.
bool DecodePly(const char* data, size_t size, const std::string& defaultName,
               std::vector<zanplugin::CMeshData>& meshes, std::string& error,
               CProgressTask* progress = nullptr);
/// \brief Encodes one mesh as PLY (binary little endian, or ASCII).
void EncodePly(const zanplugin::CMeshData& mesh, bool ascii, std::string& out);

class CPlyParser : public C3DParser
{
public:
    explicit CPlyParser(CFileIo* io) : C3DParser(io) {}
    C3DScene* Read(const CXTString& fileName, CSceneImportOptions* options) override;
    void SaveDefaultOptions(CSceneExportOptions* options) override;
    bool Save(const CXTString& fileName, C3DScene* scene, CSceneExportOptions* options) override;
};
} // namespace zanply
