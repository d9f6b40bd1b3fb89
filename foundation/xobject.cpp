// The runtime-class registry: class name to creator record, filled while the library and
// its plug-ins are loaded. The registry is a function-local static so that records declared
// from static initialisers of any translation unit find it constructed.
#include <3dzan/foundation/xobject.h>
#include <3dzan/foundation/xarchive.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace
{
struct CRegistry
{
    std::mutex m_Lock;
    std::map<std::string, const CXRuntimeClass*, std::less<>> m_Classes;
};

CRegistry& Registry()
{
    static CRegistry* registry = new CRegistry; // outlives every static destructor
    return *registry;
}
} // namespace

const CXRuntimeClass CXObject::classCreatorCXObject = {"CXObject", nullptr, nullptr};

namespace
{
const bool g_DeclaredCXObject =
    CXRuntimeClass::DeclareRuntimeClass(&CXObject::classCreatorCXObject);
}

CXObject* CXRuntimeClass::CreateObject() const
{
    return m_pfnCreateObject ? m_pfnCreateObject() : nullptr;
}

const CXRuntimeClass* CXRuntimeClass::GetBaseClass() const
{
    return m_pfnGetBaseClass ? m_pfnGetBaseClass() : nullptr;
}

bool CXRuntimeClass::IsDerivedFrom(const CXRuntimeClass* base) const
{
    if (!base)
        return false;
    for (const CXRuntimeClass* cls = this; cls; cls = cls->GetBaseClass())
        if (cls == base)
            return true;
    return false;
}

bool CXRuntimeClass::DeclareRuntimeClass(const CXRuntimeClass* record)
{
    if (!record || !record->m_ClassName || !*record->m_ClassName)
        return false;
    CRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.m_Lock);
    auto [it, added] = registry.m_Classes.emplace(record->m_ClassName, record);
    return added || it->second == record;
}

void CXRuntimeClass::UndeclareRuntimeClass(const CXRuntimeClass* record)
{
    if (!record || !record->m_ClassName)
        return;
    CRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.m_Lock);
    auto it = registry.m_Classes.find(std::string_view(record->m_ClassName));
    if (it != registry.m_Classes.end() && it->second == record)
        registry.m_Classes.erase(it);
}

const CXRuntimeClass* CXRuntimeClass::FromName(const char* className)
{
    if (!className)
        return nullptr;
    CRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.m_Lock);
    auto it = registry.m_Classes.find(std::string_view(className));
    return it == registry.m_Classes.end() ? nullptr : it->second;
}

CXObject* CXRuntimeClass::CreateObject(const char* className)
{
    const CXRuntimeClass* cls = FromName(className);
    return cls ? cls->CreateObject() : nullptr;
}

std::vector<const CXRuntimeClass*> CXRuntimeClass::GetDeclaredClasses()
{
    CRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.m_Lock);
    std::vector<const CXRuntimeClass*> result;
    result.reserve(registry.m_Classes.size());
    for (auto& entry : registry.m_Classes)
        result.push_back(entry.second);
    return result;
}

CXObject::~CXObject() = default;

const CXRuntimeClass* CXObject::GetRuntimeClassDescriptor() const
{
    return &classCreatorCXObject;
}

void CXObject::Serialize(CXArchive&) {}

bool CXObject::IsKindOf(const CXRuntimeClass* cls) const
{
    return GetRuntimeClassDescriptor()->IsDerivedFrom(cls);
}

CInstanciatedObject::~CInstanciatedObject() = default;

bool CInstanciatedObject::Delete()
{
    if (m_InstanceCount.fetch_sub(1) == 1)
    {
        delete this;
        return true;
    }
    return false;
}
