// OFF files: decoding from memory, encoding to bytes, and the scene parser.
//
// Reading accepts the header keywords OFF, COFF, NOFF, STOFF and their combinations
// ([ST][C][N]OFF), '#' comments, the counts on the header line or on the next one, vertex
// lines "x y z [nx ny nz] [r g b [a]] [s t]" (colours as bytes 0-255 or reals 0-1) and face
// lines "n i1 ... in" whose trailing face colour is ignored. One object, holding every vertex
// of the counts line. Writing gives plain OFF.
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
