#include <3dzan/foundation/commandmgr.h>

#include <mutex>
#include <utility>

namespace
{
// Registration order matters to menus, and the lists are short: a vector of pairs.
struct CNames
{
    std::mutex m_Lock;
    std::vector<std::pair<unsigned, unsigned>> m_Groups;
    std::vector<std::pair<unsigned, unsigned>> m_Categories;
};

CNames& Names()
{
    static CNames* names = new CNames; // commands may ask while statics are destroyed
    return *names;
}

void Register(std::vector<std::pair<unsigned, unsigned>>& list, unsigned code, unsigned id)
{
    for (auto& entry : list)
        if (entry.first == code)
        {
            entry.second = id;
            return;
        }
    list.emplace_back(code, id);
}

unsigned Find(const std::vector<std::pair<unsigned, unsigned>>& list, unsigned code)
{
    for (const auto& entry : list)
        if (entry.first == code)
            return entry.second;
    return kZanNone;
}

std::vector<unsigned> Codes(const std::vector<std::pair<unsigned, unsigned>>& list)
{
    std::vector<unsigned> codes;
    for (const auto& entry : list)
        codes.push_back(entry.first);
    return codes;
}

CXTString Text(unsigned id) { return id == kZanNone ? CXTString() : CXTString::FromId(id); }
} // namespace

void CCommandMgr::RegisterGroupName(unsigned code, unsigned stringId)
{
    std::lock_guard<std::mutex> lock(Names().m_Lock);
    Register(Names().m_Groups, code, stringId);
}

void CCommandMgr::RegisterCategoryName(unsigned code, unsigned stringId)
{
    std::lock_guard<std::mutex> lock(Names().m_Lock);
    Register(Names().m_Categories, code, stringId);
}

unsigned CCommandMgr::GetGroupNameId(unsigned code)
{
    std::lock_guard<std::mutex> lock(Names().m_Lock);
    return Find(Names().m_Groups, code);
}

unsigned CCommandMgr::GetCategoryNameId(unsigned code)
{
    std::lock_guard<std::mutex> lock(Names().m_Lock);
    return Find(Names().m_Categories, code);
}

bool CCommandMgr::IsGroupRegistered(unsigned code) { return GetGroupNameId(code) != kZanNone; }

bool CCommandMgr::IsCategoryRegistered(unsigned code)
{
    return GetCategoryNameId(code) != kZanNone;
}

CXTString CCommandMgr::GetGroupName(unsigned code) { return Text(GetGroupNameId(code)); }

CXTString CCommandMgr::GetCategoryName(unsigned code) { return Text(GetCategoryNameId(code)); }

std::vector<unsigned> CCommandMgr::GetGroupCodes()
{
    std::lock_guard<std::mutex> lock(Names().m_Lock);
    return Codes(Names().m_Groups);
}

std::vector<unsigned> CCommandMgr::GetCategoryCodes()
{
    std::lock_guard<std::mutex> lock(Names().m_Lock);
    return Codes(Names().m_Categories);
}

void CCommandMgr::ResetNames()
{
    std::lock_guard<std::mutex> lock(Names().m_Lock);
    Names().m_Groups.clear();
    Names().m_Categories.clear();
}
