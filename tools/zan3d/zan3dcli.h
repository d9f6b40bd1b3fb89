// The zan3d command as a library, so that tests can run its commands in-process.
#pragma once

#include <3dzan/foundation/services.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

class C3DGeomObject;
class C3DScene;

/// Exit codes of the command.
enum _Zan3DExit : int
{
    kExitOk = 0,     ///< the command did what was asked
    kExitFailed = 1, ///< a file could not be read or written
    kExitUsage = 2   ///< unknown command or option, missing or extra argument
};

/// Runs one command line (without the program name) and returns its exit code. Normal output
/// goes to \p out, diagnostics to \p err. The library must have been started (Init3DZan).
int RunZan3D(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

/// The demonstration scene: a hierarchy, a mesh shared by two nodes, a subdivision patch, a
/// material, a sphere and a cylinder, a camera, a light and animated keys.
/// \throw CXException when a node cannot be added.
void BuildDemoScene(C3DScene& scene);

/// Builds the demonstration scene, archives it to \p path, reads it back and summarises it.
int RunDemo(const std::string& path, std::FILE* out, std::FILE* err);

/// The word for an object kind (_ObjectKind...): "mesh", "patch", "group"...
const char* ObjectKindName(unsigned kind);
/// ", materials" followed by the quoted name (or #id) of each material \p geom's faces use,
/// each with "×count" when \p withCounts; empty when it uses none.
std::string UsedMaterialsText(C3DScene& scene, C3DGeomObject& geom, bool withCounts);

/// One line of the progress bar: "[#####     ] 42% label", the bar \p width cells wide.
std::string FormatProgressLine(int percent, const std::string& label, int width);

/// Installs a progress host that draws a bar on \p stream (a terminal) for the tasks the
/// library reports, and erases it when the outermost task ends; removes it on destruction.
class CTerminalProgress
{
public:
    explicit CTerminalProgress(std::FILE* stream);
    ~CTerminalProgress();
    CTerminalProgress(const CTerminalProgress&) = delete;
    CTerminalProgress& operator=(const CTerminalProgress&) = delete;

private:
    static bool Handle(int event, ProcessProgressInfo* info, void* userData);
    void Draw(const ProcessProgressInfo& info);
    void Erase();

    std::FILE* m_Stream;
    int m_Depth = 0;
    int m_LastPercent = -1;
    std::string m_LastLabel;
    bool m_Drawn = false;
    std::chrono::steady_clock::time_point m_Start;
    ProgressHandler m_PreviousHandler = nullptr;
    void* m_PreviousUserData = nullptr;
};
