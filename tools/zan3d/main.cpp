// zan3d: the command-line host of the library (see zan3dcli.h for its commands).
#include "zan3dcli.h"

#include <3dzan/frame.h>

#include <unistd.h>

#include <memory>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    Init3DZan(_InitNoCommandNames);
    int result = kExitFailed;
    {
        // The bar is for people watching a terminal, never for logs or pipes.
        std::unique_ptr<CTerminalProgress> progress;
        if (isatty(STDERR_FILENO))
            progress = std::make_unique<CTerminalProgress>(stderr);
        result = RunZan3D(args, stdout, stderr);
    }
    Close3DZan(0);
    return result;
}
