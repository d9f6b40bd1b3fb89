// Feeds arbitrary bytes to the OBJ reader, on one thread and on two. Every input must give a
// scene or a failure with exactly one error line; a scene read must have faces, and what it
// holds must be writable again. Anything else (a crash, an exception, a leak, a huge
// allocation) is a finding.
#include "objparser.h"

#include <3dzan/scene/scene.h>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (int threads = 1; threads <= 2; ++threads)
    {
        CObjReadSettings settings;
        settings.m_DefaultName = "fuzz";
        settings.m_ThreadCount = threads;
        CSceneImportOptions log;
        int result = 0;
        C3DScene* scene =
            ReadObjText(reinterpret_cast<const char*>(data), size, settings, &log, result);
        if (!scene)
        {
            if (result == _IoResultOk || log.GetLogCount() != 1)
                std::abort();
            continue;
        }
        if (result != _IoResultOk || scene->GetFaceNbr() <= 0)
            std::abort();
        scene->Delete();
    }
    return 0;
}
