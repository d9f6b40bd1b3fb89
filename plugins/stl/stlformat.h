// STL files, ASCII and binary: decoding from memory, encoding to bytes, and the scene parser.
//
// Reading: a file whose size is exactly 84 + 50 × (the count at byte 80) is binary, whatever
// its header says (many binary writers start the header with "solid"); otherwise a file that
// starts with "solid" is ASCII, one object per solid. Corners with exactly equal positions
// (0 and -0 alike) are welded within each object.
//
// Writing: binary by default; ASCII when the export flags carry kStlExportAscii (a bit of the
// high word that the scene export leaves alone, stored with the format's options). Facet
// normals are computed from the triangles; polygons are fanned out into triangles.
#pragma once

#include "meshscene.h"

#include <3dzan/io/io3d.h>

namespace zanstl
{
constexpr unsigned kClassSTL = ZanTag("STL ");
/// \brief Export flag: write ASCII STL instead of binary.
constexpr unsigned kStlExportAscii = 0x01000000;

/// \brief Decodes STL bytes. \p defaultName names solids without a name and binary files.
bool DecodeStl(const char* data, size_t size, const std::string& defaultName,
               std::vector<zanplugin::CMeshData>& meshes, std::string& error,
               CProgressTask* progress = nullptr);
/// \brief Encodes \p meshes as binary STL (one solid) or ASCII STL (one solid per mesh).
/// \return false with \p error when the triangle count does not fit the binary count.
bool EncodeStl(const std::vector<zanplugin::CMeshData>& meshes, bool ascii, std::string& out,
               std::string& error);

class CStlParser : public C3DParser
{
public:
    explicit CStlParser(CFileIo* io) : C3DParser(io) {}
    C3DScene* Read(const CXTString& fileName, CSceneImportOptions* options) override;
    void SaveDefaultOptions(CSceneExportOptions* options) override;
    bool Save(const CXTString& fileName, C3DScene* scene, CSceneExportOptions* options) override;
};
} // namespace zanstl
