// OFF files: decoding from memory, encoding to bytes, and the scene parser.
//
// Reading accepts the header keywords OFF, COFF, NOFF, STOFF, 4OFF, nOFF and their
// combinations ([ST][C][N][4][n]OFF), '#' comments, the counts on the header line or on the
// next one, vertex lines "x y z [w] [nx ny nz] [r g b [a]] [s t]" (colours as bytes 0-255 or
// reals 0-1) and face lines "n i1 ... in" whose trailing face colour is ignored. With 4 each
// vertex carries a homogeneous w that divides its coordinates; with n the dimension (1 to 16)
// follows the keyword and each vertex has that many coordinates: the first three place the
// point, missing ones are 0, further ones are dropped (normals only in 3 dimensions). One
// object, holding every vertex of the counts line. Writing gives plain OFF.
#pragma once

#include "meshscene.h"

#include <3dzan/io/io3d.h>

namespace zanoff
{
constexpr unsigned kClassOFF = ZanTag("OFF ");

/// \brief Decodes OFF bytes into one mesh named \p defaultName.
bool DecodeOff(const char* data, size_t size, const std::string& defaultName,
               std::vector<zanplugin::CMeshData>& meshes, std::string& error,
               CProgressTask* progress = nullptr);
/// \brief Encodes one mesh as plain OFF.
void EncodeOff(const zanplugin::CMeshData& mesh, std::string& out);

class COffParser : public C3DParser
{
public:
    explicit COffParser(CFileIo* io) : C3DParser(io) {}
    C3DScene* Read(const CXTString& fileName, CSceneImportOptions* options) override;
    void SaveDefaultOptions(CSceneExportOptions* options) override;
    bool Save(const CXTString& fileName, C3DScene* scene, CSceneExportOptions* options) override;
};
} // namespace zanoff
