// The format registry's private side, shared by files.cpp (which owns it), fileio.cpp (which
// asks for parser factories) and plugins.cpp (which registers and removes a plug-in's
// formats and factories as one unit). Never installed.
#pragma once

#include <3dzan/foundation/files.h>
#include <3dzan/foundation/plugin_abi.h>

#include <memory>
#include <string>
#include <vector>

namespace zan_files
{
/// Who registered a format or a factory: 0 for the library, else a plug-in's serial number.
using COwner = uint64_t;
constexpr COwner kLibraryOwner = 0;

/// A parser factory. Copies hold the plug-in that made it loaded (m_Module), so a factory
/// taken from the registry can be called even while another thread frees the plug-ins.
struct CFactory
{
    unsigned m_Class = 0;
    ZanParserFactory m_Factory = nullptr;
    void* m_UserData = nullptr;
    COwner m_Owner = kLibraryOwner;
    std::shared_ptr<void> m_Module;
};

/// Why a record cannot be registered on its own merits (not counting other records):
/// null when it can.
const char* CheckFileExt(const CFileExt& record);
/// Registers a record for \p owner under the rules of fileRegisterFile; null when it was
/// accepted, else the reason.
const char* RegisterFileFor(COwner owner, const CFileExt& record);

/// A plug-in's registrations, gathered while its entry runs and committed in one step.
struct CPluginRegistrations
{
    std::vector<CFileExt> m_FileTypes;
    std::vector<CFactory> m_Factories;
};
/// Registers everything a plug-in offered, under one lock. Refused file types are
/// described in \p refused; factories are always kept. Returns the file types accepted.
int CommitPlugin(COwner owner, const std::shared_ptr<void>& module,
                 const CPluginRegistrations& offered, std::vector<std::string>& refused);
/// Removes every format and factory of \p owner (never kLibraryOwner's).
void RemoveOwner(COwner owner);

bool AddFactory(const CFactory& factory);
bool RemoveFactory(unsigned classCode, ZanParserFactory factory, void* userData);
/// The factories of \p classCode in registration order (copies).
std::vector<CFactory> GetFactories(unsigned classCode);
int GetFactoryNbr(unsigned classCode);
} // namespace zan_files
