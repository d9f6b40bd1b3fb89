// Feeds arbitrary bytes to the PLY reader. Every input must either decode or be refused with
// a reason; a decoded mesh must name only its own points, build a scene with its counts, and
// come back the same through our writer. Anything else (a crash, a read past the input, a
// huge allocation) is a finding.
#include "plyformat.h"
#include "meshfuzz.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using zanplugin::CMeshData;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<CMeshData> meshes;
    if (!meshfuzz::DecodeAndCheck(data, size, "fuzz.ply", &zanply::DecodePly, meshes))
        return 0;
    std::string error;

    // What our writer makes of the mesh reads back the same.
    for (bool ascii : {false, true})
    {
        (void)ascii;
        std::string bytes;
        zanply::EncodePly(meshes[0], ascii, bytes);
        std::vector<CMeshData> again;
        if (!zanply::DecodePly(bytes.data(), bytes.size(), "again", again, error) || again.size() != 1)
            std::abort();
        if (again[0].m_Indices != meshes[0].m_Indices ||
            again[0].GetPointNbr() != meshes[0].GetPointNbr())
            std::abort();
    }
    return 0;
}
