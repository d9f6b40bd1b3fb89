// A format plug-in for the tests: the ".ztst" format (also ".ztst2"), class "ZTST", a 3D
// kind, read and write. Its parser fills default options in a way the tests can see, and its
// exit function appends a line to the file named by ZAN3D_TEST_PLUGIN_EXIT_FILE, so that a
// test can tell when the plug-in was unloaded.
#include <3dzan/foundation/fileio.h>
#include <3dzan/foundation/plugin_abi.h>

#include <cstdio>
#include <cstdlib>

namespace
{
constexpr unsigned kTestClass = ZanTag("ZTST");

class CTestParser : public CFileParser
{
public:
    explicit CTestParser(CFileIo* io) : CFileParser(io) {}

    void FillDefaultOptions(CIoOptions* options) override
    {
        if (!options)
            return;
        options->GetCustomData().SetUInt(ZanTag("ZTST"), GetFileIo()->IsReading() ? 1u : 2u);
        options->AddLogInfo(_IoLevelInfo, "test parser defaults for %s",
                            GetFileIo()->GetFileName().c_str());
    }
};

CFileParser* CreateParser(CFileIo* io, uint32_t classCode, void*)
{
    if (classCode != kTestClass)
        return nullptr;
    return new CTestParser(io);
}

void OnExit(void*)
{
    const char* path = getenv("ZAN3D_TEST_PLUGIN_EXIT_FILE");
    if (!path || !*path)
        return;
    if (FILE* file = fopen(path, "a"))
    {
        fputs("test_format_plugin exit\n", file);
        fclose(file);
    }
}
} // namespace

ZAN_PLUGIN_EXPORT int Zan3DPluginEntry(ZanPluginHost* host)
{
    if (!ZanPluginHostMatches(host))
        return ZAN3D_PLUGIN_ABI_VERSION;
    if ((host->m_Family & _FileKind3D) == 0)
        return 0;
    host->m_SetPluginName(host, "3DZan test format");
    host->m_RegisterFileType(host, "3DZan test files", ".ztst;.ztst2", kTestClass,
                             _FileKind3D | _FileExtRead | _FileExtWrite, ZanTag("ZTPL"),
                             ZanTag("ZTPL"));
    host->m_RegisterParserFactory(host, kTestClass, &CreateParser, nullptr);
    host->m_SetExitFunction(host, &OnExit, nullptr);
    return ZAN3D_PLUGIN_ABI_VERSION;
}
