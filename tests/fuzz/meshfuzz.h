// What the fuzz targets of the mesh formats (STL, PLY, OFF) check on every input: it either
// decodes or is refused with a reason, and a decoded mesh names only its own points, keeps
// only faces of three corners or more, and builds a scene with its counts. Each target then
// checks its own writer on what was decoded.
#pragma once

#include "meshscene.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace meshfuzz
{
using zanplugin::CMeshData;

inline void CheckMesh(const CMeshData& mesh)
{
    size_t corners = 0;
    for (size_t f = 0; f < mesh.GetFaceNbr(); ++f)
    {
        const unsigned n = mesh.m_Counts.empty() ? 3 : mesh.m_Counts[f];
        if (n < 3)
            std::abort();
        corners += n;
    }
    if (corners != mesh.m_Indices.size())
        std::abort();
    for (int index : mesh.m_Indices)
        if (index < 0 || size_t(index) >= mesh.GetPointNbr())
            std::abort();
}

/// Decodes \p data with \p decode (the format's DecodeXxx), checks the meshes and the scene
/// built from them. \return false when the input was refused (with a reason).
template <class DECODE>
bool DecodeAndCheck(const uint8_t* data, size_t size, const char* sceneName, DECODE decode,
                    std::vector<CMeshData>& meshes)
{
    std::string error;
    if (!decode(reinterpret_cast<const char*>(data), size, "fuzz", meshes, error, nullptr))
    {
        if (error.empty())
            std::abort(); // a refusal always says why
        return false;
    }
    size_t points = 0, faces = 0;
    for (const CMeshData& mesh : meshes)
    {
        CheckMesh(mesh);
        points += mesh.GetPointNbr();
        faces += mesh.GetFaceNbr();
    }
    std::vector<CMeshData> copy = meshes;
    C3DScene* scene = zanplugin::BuildMeshScene(copy, sceneName);
    if (!scene)
        std::abort();
    if (size_t(scene->GetPointNbr()) != points || size_t(scene->GetFaceNbr()) != faces)
        std::abort();
    scene->Delete();
    return true;
}
} // namespace meshfuzz
