// Feeds arbitrary bytes to the STL reader. Every input must either decode or be refused with
// a reason; a decoded mesh must name only its own points, build a scene with its counts, and
// come back the same through our writer. Anything else (a crash, a read past the input, a
// huge allocation) is a finding.
#include "stlformat.h"
#include "meshfuzz.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using zanplugin::CMeshData;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<CMeshData> meshes;
    if (!meshfuzz::DecodeAndCheck(data, size, "fuzz.stl", &zanstl::DecodeStl, meshes))
        return 0;
    std::string error;

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
