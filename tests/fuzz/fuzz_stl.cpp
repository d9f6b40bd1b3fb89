// Feeds arbitrary bytes to the STL reader. Every input must either decode or be refused with
// a reason; a decoded mesh must name only its own points, build a scene with its counts, and
// come back the same through our writer. Anything else (a crash, a read past the input, a
// huge allocation) is a finding.
#include "stlformat.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
using zanplugin::CMeshData;

void CheckMesh(const CMeshData& mesh)
{
    size_t corners = 0;
    for (size_t f = 0; f < mesh.GetFaceNbr(); ++f)
    {
        const unsigned n = mesh.m_Counts.empty() ? 3 : mesh.m_Counts[f];
        if (n < 3)
            std::abort(); // only faces of three corners or more are kept
        corners += n;
    }
    if (corners != mesh.m_Indices.size())
        std::abort();
    for (int index : mesh.m_Indices)
        if (index < 0 || size_t(index) >= mesh.GetPointNbr())
            std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<CMeshData> meshes;
    std::string error;
    if (!zanstl::DecodeStl(reinterpret_cast<const char*>(data), size, "fuzz", meshes, error))
    {
        if (error.empty())
            std::abort(); // a refusal always says why
        return 0;
    }
    size_t points = 0, faces = 0;
    for (const CMeshData& mesh : meshes)
    {
        CheckMesh(mesh);
        points += mesh.GetPointNbr();
        faces += mesh.GetFaceNbr();
    }
    std::vector<CMeshData> copy = meshes;
    C3DScene* scene = zanplugin::BuildMeshScene(copy, "fuzz.stl");
    if (!scene)
        std::abort();
    if (size_t(scene->GetPointNbr()) != points || size_t(scene->GetFaceNbr()) != faces)
        std::abort();
    scene->Delete();

    // What our writer makes of the meshes reads back to as many faces.
    std::string bytes;
    if (!zanstl::EncodeStl(meshes, false, bytes, error))
        std::abort();
    std::vector<CMeshData> again;
    if (!zanstl::DecodeStl(bytes.data(), bytes.size(), "again", again, error) || again.size() != 1)
        std::abort();
    size_t triangles = 0;
    for (const CMeshData& mesh : meshes)
        for (size_t f = 0; f < mesh.GetFaceNbr(); ++f)
            triangles += (mesh.m_Counts.empty() ? 3 : mesh.m_Counts[f]) - 2;
    if (again[0].GetFaceNbr() != triangles)
        std::abort();
    return 0;
}
