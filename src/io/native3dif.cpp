// The native scene format: the scene's own archive, read whole before the scene is handed
// out and written through a temporary file renamed over the target.
#include <3dzan/io/io3d.h>

#include <3dzan/foundation/exceptions.h>
#include <3dzan/foundation/files.h>
#include <3dzan/foundation/services.h>
#include <3dzan/foundation/xarchive.h>
#include <3dzan/scene/scene.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr size_t kArchiveBuffer = 256 * 1024;
// The first value of a scene archive: its version.
constexpr uint32_t kSceneVersion = 1;

// Raised by CProgressFile when the host stops the read.
struct CReadStopped
{
};

// The file a scene archive is read from, telling a progress task of the bytes read and
// ending the read (CReadStopped) when the host asks to stop.
class CProgressFile : public CXFile
{
public:
    CProgressFile(CXDiskFile& file, CProgressTask& task) : m_File(file), m_Task(task) {}
    size_t Read(void* buffer, size_t size) override
    {
        const size_t read = m_File.Read(buffer, size);
        if (m_Task.Advance(int64_t(read)))
            throw CReadStopped();
        return read;
    }
    void Write(const void* buffer, size_t size) override { m_File.Write(buffer, size); }
    uint64_t GetRemaining() const override { return m_File.GetRemaining(); }

private:
    CXDiskFile& m_File;
    CProgressTask& m_Task;
};

// Drops the scene on every path out of a read that did not hand it over.
struct CSceneHolder
{
    C3DScene* m_Scene = C3DScene::Create();
    ~CSceneHolder()
    {
        if (m_Scene)
            m_Scene->Delete();
    }
    C3DScene* Release()
    {
        C3DScene* scene = m_Scene;
        m_Scene = nullptr;
        return scene;
    }
};
} // namespace

bool Register3DIFFileType()
{
    CFileExt record("3DZan scene files", ".3dif", kClass3DIF,
                    _FileKind3D | _FileExtRead | _FileExtWrite);
    CFileExt known;
    if (fileGetExtensionInfo(kClass3DIF, known))
        return true;
    return fileRegisterFile(record);
}

C3DIFIo::C3DIFIo(CFileIo* io) : C3DParser(io) {}

C3DIFIo::~C3DIFIo() = default;

void C3DIFIo::SaveDefaultOptions(CSceneExportOptions* options)
{
    if (!options)
        return;
    // The archive holds everything: no channel unification, every material, back faces.
    options->m_ForcedFlags |= _ExportKeepChannels | _ExportKeepUnusedMaterials |
                              _ExportKeepBackMaterials | _ExportHidden;
}

C3DScene* C3DIFIo::Read(const CXTString& fileName, CSceneImportOptions* options)
{
    CXDiskFile file;
    if (!file.Open(fileName.c_str(), CXDiskFile::modeRead))
    {
        SetIoError(_IoResultFileNotFound, _IoLevelError);
        return nullptr;
    }
    // The scene archive leaves an archive of another version unread; for a file named as
    // a scene file that is a format error, not an empty scene.
    uint8_t head[4] = {0, 0, 0, 0};
    if (file.GetRemaining() < sizeof head || file.Read(head, sizeof head) != sizeof head ||
        (head[0] | head[1] << 8 | head[2] << 16 | uint32_t(head[3]) << 24) != kSceneVersion)
    {
        if (CIoOptions* log = options)
            log->AddLogInfo(_IoLevelError, "%s is not a 3DZan scene file", fileName.c_str());
        SetIoError(_IoResultBadFormat, _IoLevelError);
        return nullptr;
    }
    file.Close();
    if (!file.Open(fileName.c_str(), CXDiskFile::modeRead))
    {
        SetIoError(_IoResultFileNotFound, _IoLevelError);
        return nullptr;
    }
    CSceneHolder holder;
    const std::string title = std::string("Reading ") + CFileNameSpec(fileName).GetBaseName().c_str();
    CProgressTask progress(title.c_str());
    progress.SetRange(0, int64_t(file.GetRemaining()));
    try
    {
        CProgressFile reported(file, progress);
        CXArchive ar(&reported, CXArchive::load, kArchiveBuffer);
        holder.m_Scene->Serialize(ar);
    }
    catch (const CReadStopped&)
    {
        if (options)
            options->AddLogInfo(_IoLevelWarning, "%s: reading stopped on request",
                                fileName.c_str());
        SetIoError(_IoResultCancelled, _IoLevelWarning);
        return nullptr;
    }
    catch (const CXArchiveException& e)
    {
        WriteToLogFile("C3DIFIo::Read %s: %s\n", fileName.c_str(), e.what());
        if (options)
            options->AddLogInfo(_IoLevelError, "%s is damaged or truncated: %s", fileName.c_str(),
                                e.what());
        SetIoError(_IoResultBadFormat, _IoLevelError);
        return nullptr;
    }
    catch (const std::bad_alloc&)
    {
        SetIoError(_IoResultReadError, _IoLevelError);
        return nullptr;
    }
    SetScene(holder.m_Scene);
    return holder.Release();
}

bool C3DIFIo::Save(const CXTString& fileName, C3DScene* scene, CSceneExportOptions*)
{
    if (!scene)
        return false;
    // The temporary file sits in the destination folder, so that the rename cannot cross
    // file systems and the old file stays whole until the new one is complete.
    std::string temporary = std::string(fileName.c_str()) + ".XXXXXX";
    const int descriptor = mkstemp(temporary.data());
    if (descriptor < 0)
    {
        SetIoError(_IoResultFileNotFound, _IoLevelError);
        return false;
    }
    // mkstemp makes the file private: give it the mode the old file had, or the mode a new
    // file gets.
    struct stat old;
    if (stat(fileName.c_str(), &old) == 0)
        fchmod(descriptor, old.st_mode & 07777);
    else
    {
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(descriptor, 0666 & ~mask);
    }
    close(descriptor);
    bool written = false;
    {
        CXDiskFile file;
        if (file.Open(temporary.c_str(), CXDiskFile::modeWrite))
        {
            try
            {
                scene->SetFilename(CFileNameSpec());
                CXArchive ar(&file, CXArchive::store, kArchiveBuffer);
                scene->Serialize(ar);
                ar.Close();
                written = file.Close();
            }
            catch (const CXArchiveException& e)
            {
                WriteToLogFile("C3DIFIo::Save %s: %s\n", fileName.c_str(), e.what());
            }
            catch (const std::bad_alloc&)
            {
            }
        }
    }
    if (written && std::rename(temporary.c_str(), fileName.c_str()) == 0)
        return true;
    std::remove(temporary.c_str());
    SetIoError(written ? _IoResultAccessDenied : _IoResultWriteError, _IoLevelError);
    return false;
}
