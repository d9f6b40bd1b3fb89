/// \file materials.h
/// \brief CMaterials, the material table of a scene, and CMaterialHashMap, the set of material
///        IDs that objects and scenes report.
#pragma once

#include <3dzan/foundation/hashmap.h>
#include <3dzan/materials/material.h>

#include <memory>

/// \brief Material ID → number of uses: what an object's faces or a subtree use.
class ZAN_API CMaterialHashMap : public CHashMap<unsigned, unsigned, unsigned>,
                                 public CInstanciatedObject
{
public:
    CMaterialHashMap() : CHashMap<unsigned, unsigned, unsigned>(17) {}
    ~CMaterialHashMap() override;
    /// \brief Adds \p count uses of material \p materialId.
    void AddMaterial(unsigned materialId, unsigned count = 1) { (*this)[materialId] += count; }
    /// \brief Adds the uses of \p other.
    void Append(const CMaterialHashMap& other);
};

/// \brief The material table of a scene: owns materials by ID and indexes them by name and by
///        diffuse colour (at time 0), so that a material can be found by appearance or name.
///
/// Walks (GetFirst/GetNext) visit the ID map's slots. The name and colour indexes keep the IDs
/// of a name or colour in increasing order: "the first material" of a name is the one of the
/// smallest ID.
///
/// Archive (`Serialize`): the CXObject part, the material count (WriteCount) and each material
/// with its runtime class (WriteObject) in slot order. Loading adds the materials read to the
/// table (a count of 0 leaves it unchanged); a loaded material replaces one of the same ID.
/// A load that fails (truncation, a class that is not a material, two materials with one ID)
/// raises CXArchiveException and leaves the table as it was.
class ZAN_API CMaterials : public CXObject
{
    ZAN_DECLARE_DYNCREATE(CMaterials)

public:
    /// Flags of CopyMaterials.
    enum _COPY_FLAGS : unsigned
    {
        _CopySkipExisting = 0x1, ///< skip source materials whose ID this table holds
        _CopyEmptyFirst = 0x2,   ///< empty this table first
        _CopyOnlyListed = 0x4    ///< copy only the IDs of the given set (none without a set)
    };

    CMaterials();
    CMaterials(const CMaterials&) = delete;
    CMaterials& operator=(const CMaterials&) = delete;
    ~CMaterials() override;

    /// \brief A new material of this table and returns it (the table owns it).
    ///
    /// It takes \p materialId when that is not 0xFFFFFFFF and free in the table, else the
    /// next free value of the counter. ID 0 is named "Default material". The name is made
    /// unique within the table by appending 0, 1, 2, ... to it ("Wood", "Wood0", "Wood1").
    C3DMaterial* CreateNewMaterial(unsigned materialId = kZanNone);
    /// \brief Inserts a material made elsewhere (by a parser). The table takes it and owns it.
    /// \return false, \p material left with the caller, when the table holds its ID already.
    bool AddMaterial(std::unique_ptr<C3DMaterial>& material);
    /// \brief Makes material 0 a copy of \p material (a new material named
    ///        "Default material" when the table has none, else assigned, name included).
    void SetDefaultMaterial(const C3DMaterial& material);

    /// \brief The material of \p materialId. ID 0, when missing, is created with default
    ///        parameters; any other missing ID gives null.
    C3DMaterial* FindByID(unsigned materialId);
    /// \brief The material of \p materialId, or null (never creates the default).
    C3DMaterial* GetMaterial(unsigned materialId) const;
    /// \brief The material of that name with the smallest ID, or null.
    C3DMaterial* FindByName(const CXTString& name) const;
    /// \brief The first material with the same diffuse colour (or, with \p byName, the same
    ///        name) whose parameters equal \p material's (HasSameParameters); null when none.
    C3DMaterial* Find(const C3DMaterial& material, bool byName) const;

    /// \brief Destroys material \p materialId; false when absent.
    bool RemoveMaterial(unsigned materialId);
    /// \brief Destroys every material.
    void RemoveAll();
    /// \brief Copies the materials of \p source (see _COPY_FLAGS), in \p source's slot order;
    ///        each copy keeps its source ID and name. A material of the same ID in this table is
    ///        assigned the source's parameters. Copying a table into itself changes nothing.
    void CopyMaterials(const CMaterials& source, unsigned flags,
                       const CMaterialHashMap* only = nullptr);

    unsigned GetCount() const { return m_ByID.GetCount(); }
    /// \brief The first position of a walk; 0xFFFFFFFF when the table is empty.
    unsigned GetFirst() const { return m_ByID.GetFirst(); }
    /// \brief The material at \p position and its ID; \p position moves on (0xFFFFFFFF after
    ///        the last). \throw CXInvalidArgException for a position that holds no material.
    void GetNext(unsigned& position, unsigned& materialId, C3DMaterial*& material) const;

    void Serialize(CXArchive& ar) override;

protected:
    friend class C3DMaterial;
    friend class CMaterialReindex;
    /// \brief Puts \p material into the name and colour indexes.
    void HashInsert(C3DMaterial* material);
    /// \brief Takes \p material out of the name and colour indexes.
    void HashRemove(C3DMaterial* material);
    /// \brief Empties the three maps, destroying the materials.
    void HashFree();

private:
    C3DMaterial* Insert(std::unique_ptr<C3DMaterial> material);
    /// Moves a material of the table from one ID to another free one.
    void ChangeID(C3DMaterial* material, unsigned newId);

    CHashMap<unsigned, std::unique_ptr<C3DMaterial>> m_ByID;
    CHashMap<CRGBColor, CXArray<unsigned>> m_ByColor;
    CHashMap<CXTString, CXArray<unsigned>> m_ByName;
};
