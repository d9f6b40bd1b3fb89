// The material table: materials owned by ID, indexed by name and by diffuse colour.
//
// The two indexes map a name or a colour to the sorted list of the IDs that carry it, so a
// look-up by appearance or name returns the material of the smallest ID, whatever order the
// materials were inserted or loaded in. Materials report their own changes of name and
// colour through HashRemove/HashInsert.
#include <3dzan/materials/materials.h>

#include <3dzan/foundation/xarchive.h>

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace
{
const unsigned kDefaultMaterialStringId = 9358;
const unsigned kTableSize = 101;
// Least archive bytes of one material: its class name record and an empty material.
const uint64_t kMinMaterialBytes = 4 + 4 + 4 + 4 + 5 * 4 + 4 + 4 + 4;

CXTString DefaultMaterialName()
{
    CXTString name;
    if (!name.LoadStringW(kDefaultMaterialStringId))
        name = "Default Material";
    return name;
}

void AddSorted(CXArray<unsigned>& ids, unsigned id)
{
    auto& v = ids.GetVector();
    auto at = std::lower_bound(v.begin(), v.end(), id);
    if (at == v.end() || *at != id)
        v.insert(at, id);
}

template <class KEY>
void RemoveFrom(CHashMap<KEY, CXArray<unsigned>>& index, const KEY& key, unsigned id)
{
    CXArray<unsigned>* ids = index.Find(key);
    if (!ids)
        return;
    // The list is sorted (AddSorted): found by halving, not by a walk over thousands of
    // materials that share the default colour.
    auto& v = ids->GetVector();
    auto at = std::lower_bound(v.begin(), v.end(), id);
    if (at != v.end() && *at == id)
        v.erase(at);
    if (v.empty())
        index.Remove(key);
}
} // namespace

// ================================================================ CMaterialHashMap

CMaterialHashMap::~CMaterialHashMap() = default;

void CMaterialHashMap::Append(const CMaterialHashMap& other)
{
    for (unsigned pos = other.GetFirst(); pos != kZanNone;)
    {
        unsigned id = 0, count = 0;
        other.GetNext(pos, id, count);
        AddMaterial(id, count);
    }
}

// ================================================================ CMaterials

ZAN_IMPLEMENT_DYNCREATE(CMaterials, CXObject)

CMaterials::CMaterials()
    : m_ByID(NextPrime(kTableSize)), m_ByColor(NextPrime(kTableSize)),
      m_ByName(NextPrime(kTableSize))
{
}

CMaterials::~CMaterials()
{
    HashFree();
}

void CMaterials::HashInsert(C3DMaterial* material)
{
    const unsigned id = material->GetMaterialID();
    AddSorted(m_ByColor[material->GetDiffuseColor(0)], id);
    AddSorted(m_ByName[material->GetName()], id);
}

void CMaterials::HashRemove(C3DMaterial* material)
{
    const unsigned id = material->GetMaterialID();
    RemoveFrom(m_ByColor, material->GetDiffuseColor(0), id);
    RemoveFrom(m_ByName, material->GetName(), id);
}

void CMaterials::HashFree()
{
    m_ByColor.RemoveAll();
    m_ByName.RemoveAll();
    m_ByID.RemoveAll();
}

C3DMaterial* CMaterials::Insert(std::unique_ptr<C3DMaterial> material)
{
    C3DMaterial* raw = material.get();
    raw->m_Owner = this;
    m_ByID[raw->GetMaterialID()] = std::move(material);
    HashInsert(raw);
    return raw;
}

void CMaterials::ChangeID(C3DMaterial* material, unsigned newId)
{
    std::unique_ptr<C3DMaterial>* slot = m_ByID.Find(material->GetMaterialID());
    std::unique_ptr<C3DMaterial> owned = std::move(*slot);
    m_ByID.Remove(material->GetMaterialID());
    material->m_MaterialID = newId;
    m_ByID[newId] = std::move(owned);
}

C3DMaterial* CMaterials::CreateNewMaterial(unsigned materialId)
{
    auto material = std::make_unique<C3DMaterial>();
    if (materialId != kZanNone && !GetMaterial(materialId))
    {
        material->m_MaterialID = materialId;
        C3DMaterial::RaiseCounter(materialId);
    }
    else
        while (GetMaterial(material->GetMaterialID()))
            material->InitMaterialId();
    if (materialId == 0)
        material->m_Name = DefaultMaterialName();

    const CXTString base = material->m_Name;
    CXTString candidate = base;
    for (int counter = 0; FindByName(candidate); ++counter)
    {
        candidate = base;
        candidate.AppendFormat("%d", counter);
    }
    material->m_Name = candidate;
    return Insert(std::move(material));
}

bool CMaterials::AddMaterial(std::unique_ptr<C3DMaterial>& material)
{
    if (!material || material->GetOwner() || GetMaterial(material->GetMaterialID()))
        return false;
    Insert(std::move(material));
    return true;
}

void CMaterials::SetDefaultMaterial(const C3DMaterial& material)
{
    C3DMaterial* current = GetMaterial(0);
    if (current)
    {
        *current = material;
        return;
    }
    auto copy = std::make_unique<C3DMaterial>(material);
    copy->m_MaterialID = 0;
    copy->m_Name = DefaultMaterialName();
    Insert(std::move(copy));
}

C3DMaterial* CMaterials::GetMaterial(unsigned materialId) const
{
    const std::unique_ptr<C3DMaterial>* found = m_ByID.Find(materialId);
    return found ? found->get() : nullptr;
}

C3DMaterial* CMaterials::FindByID(unsigned materialId)
{
    C3DMaterial* material = GetMaterial(materialId);
    if (!material && materialId == 0)
    {
        SetDefaultMaterial(C3DMaterial());
        material = GetMaterial(0);
    }
    return material;
}

C3DMaterial* CMaterials::FindByName(const CXTString& name) const
{
    const CXArray<unsigned>* ids = m_ByName.Find(name);
    return ids && !ids->IsEmpty() ? GetMaterial(ids->GetAt(0)) : nullptr;
}

C3DMaterial* CMaterials::Find(const C3DMaterial& material, bool byName) const
{
    const CXArray<unsigned>* ids =
        byName ? m_ByName.Find(material.GetName()) : m_ByColor.Find(material.GetDiffuseColor(0));
    if (!ids)
        return nullptr;
    for (unsigned id : *ids)
    {
        C3DMaterial* candidate = GetMaterial(id);
        if (candidate && candidate->HasSameParameters(material))
            return candidate;
    }
    return nullptr;
}

bool CMaterials::RemoveMaterial(unsigned materialId)
{
    C3DMaterial* material = GetMaterial(materialId);
    if (!material)
        return false;
    HashRemove(material);
    m_ByID.Remove(materialId);
    return true;
}

void CMaterials::RemoveAll()
{
    HashFree();
}

void CMaterials::CopyMaterials(const CMaterials& source, unsigned flags,
                               const CMaterialHashMap* only)
{
    if (&source == this)
        return;
    if (flags & _CopyEmptyFirst)
        RemoveAll();
    if ((flags & _CopyOnlyListed) && !only)
        return;
    for (unsigned pos = source.GetFirst(); pos != kZanNone;)
    {
        unsigned id = 0;
        C3DMaterial* material = nullptr;
        source.GetNext(pos, id, material);
        if ((flags & _CopyOnlyListed) && !only->HasKey(id))
            continue;
        if (C3DMaterial* existing = GetMaterial(id))
        {
            if (!(flags & _CopySkipExisting))
                *existing = *material;
            continue;
        }
        auto copy = std::make_unique<C3DMaterial>(*material);
        copy->m_MaterialID = id;
        Insert(std::move(copy));
    }
}

void CMaterials::GetNext(unsigned& position, unsigned& materialId, C3DMaterial*& material) const
{
    materialId = m_ByID.GetKeyAt(position);
    material = m_ByID.GetValueAt(position).get();
    position = m_ByID.NextUsed(size_t(position) + 1);
}

void CMaterials::Serialize(CXArchive& ar)
{
    CXObject::Serialize(ar);
    if (ar.IsStoring())
    {
        ar.WriteCount(GetCount());
        for (unsigned pos = GetFirst(); pos != kZanNone;)
        {
            unsigned id = 0;
            C3DMaterial* material = nullptr;
            GetNext(pos, id, material);
            ar.WriteObject(material);
        }
        return;
    }

    const uint64_t count = ar.ReadCount(kMinMaterialBytes);
    std::vector<std::unique_ptr<C3DMaterial>> loaded;
    std::unordered_set<unsigned> ids;
    for (uint64_t i = 0; i < count; ++i)
    {
        std::unique_ptr<CXObject> object(ar.ReadObject(ZAN_RUNTIME_CLASS(C3DMaterial)));
        auto* material = dynamic_cast<C3DMaterial*>(object.get());
        if (!material)
            throw CXArchiveException(CXArchiveException::_BadValue, "a null material in a table");
        if (!ids.insert(material->GetMaterialID()).second)
            throw CXArchiveException(CXArchiveException::_BadValue,
                                     "two materials with one ID in a table");
        object.release();
        loaded.emplace_back(material);
    }
    for (auto& material : loaded)
    {
        RemoveMaterial(material->GetMaterialID());
        Insert(std::move(material));
    }
}
