/// \file material.h
/// \brief C3DMaterial: the colours, factors, name, flags and texture maps that faces refer to
///        by material ID.
#pragma once

#include <3dzan/materials/materialmap.h>

#include <memory>

class CMaterials;

/// \brief Flags of a material. Bits other than these are free for hosts; materials keep them
///        through copies and archives.
enum _MATERIAL_FLAGS : unsigned
{
    _MaterialTwoSided = 0x1, ///< both sides of its faces are lit and drawn
    _MaterialUnlit = 0x2     ///< drawn in its colours without lighting
};

/// \brief A material: animatable colours and factors (keys of the material, read at a tick),
///        a name, flags, custom data, a vertex-colour link and up to five texture maps.
///
/// Parameters and their keys (class ids) with the value read when the material has no key:
/// | Parameter            | Class id            | Default              |
/// |----------------------|---------------------|----------------------|
/// | ambient colour       | 0x434F4C4F4D544152  | (30, 30, 30, 255)    |
/// | diffuse colour       | 0x434F4C4F4D544452  | (192, 192, 192, 255) |
/// | specular colour      | 0x434F4C4F4D545352  | (192, 192, 192, 255) |
/// | ambient factor       | 0x464C4F414D544146  | 1.0                  |
/// | diffuse factor       | 0x464C4F414D544446  | 1.0                  |
/// | specular factor      | 0x464C4F414D545346  | 1.0                  |
/// | transparency factor  | 0x464C4F414D545459  | 0.0                  |
/// | bump factor          | 0x464C4F414D54424D  | 1.0                  |
/// | smoothing angle      | 0x464C4F414D54534D  | -1.0: the library's  |
/// | vertex-colour factor | 0x464C4F414D545643  | 1.0                  |
///
/// Setters create or replace the key at their time. Values that are not numbers (NaN) are
/// refused: the setter changes nothing.
///
/// IDs: every construction takes the next value of a process-wide counter that starts at 1;
/// loading a material whose ID is not below the counter moves the counter past it. Material
/// 0 is a table's default material.
///
/// A material that belongs to a table (CMaterials) keeps the table's indexes by name and by
/// diffuse colour current: its setters of those values take it out of the indexes and put it
/// back around the change.
///
/// Archive (`Serialize`): the keys; flags (u32); name; for each map slot (ambient, diffuse,
/// specular, transparency, bump) an i32 1 followed by the map, or an i32 0; the vertex-colour
/// channel ID (u32); the material ID (u32); the custom data. A load that fails raises
/// CXArchiveException and leaves the material as it was.
class ZAN_API C3DMaterial : public CXObject, public C3DKeyframable
{
    ZAN_DECLARE_DYNCREATE(C3DMaterial)

public:
    static constexpr uint64_t kAmbientColorKey = 0x434F4C4F4D544152ull;
    static constexpr uint64_t kDiffuseColorKey = 0x434F4C4F4D544452ull;
    static constexpr uint64_t kSpecularColorKey = 0x434F4C4F4D545352ull;
    static constexpr uint64_t kAmbientFactorKey = 0x464C4F414D544146ull;
    static constexpr uint64_t kDiffuseFactorKey = 0x464C4F414D544446ull;
    static constexpr uint64_t kSpecularFactorKey = 0x464C4F414D545346ull;
    static constexpr uint64_t kTransparencyFactorKey = 0x464C4F414D545459ull;
    static constexpr uint64_t kBumpFactorKey = 0x464C4F414D54424Dull;
    static constexpr uint64_t kSmoothAngleKey = 0x464C4F414D54534Dull;
    static constexpr uint64_t kVertexColorFactorKey = 0x464C4F414D545643ull;

    /// \brief A material with default parameters and the next ID of the counter.
    C3DMaterial();
    /// \brief A copy of \p other's parameters, name, flags and maps (see operator=) with an ID
    ///        of its own and no table.
    C3DMaterial(const C3DMaterial& other);
    /// \brief Deletes the maps. A table takes the material out of its indexes first.
    ~C3DMaterial() override;

    // ------------------------------------------------------------------ colours

    /// \brief The colour at \p time; with \p withFactor, red, green and blue multiplied by
    ///        the matching factor and truncated (the diffuse alpha also by 1 − transparency).
    CRGBColor GetAmbientColor(int time, bool withFactor = false) const;
    CRGBColor GetDiffuseColor(int time, bool withFactor = false) const;
    CRGBColor GetSpecularColor(int time, bool withFactor = false) const;
    /// \brief The colour with its factor as floats in [0, 1]: red, green and blue are
    ///        byte ÷ 255 × factor; alpha is byte ÷ 255 (the diffuse alpha × (1 − transparency)).
    void FloatGetAmbientColor(int time, float rgba[4]) const;
    void FloatGetDiffuseColor(int time, float rgba[4]) const;
    void FloatGetSpecularColor(int time, float rgba[4]) const;
    void SetAmbientColor(int time, const CRGBColor& color);
    /// \brief Changes nothing when the colour at \p time already is \p color.
    void SetDiffuseColor(int time, const CRGBColor& color);
    void SetSpecularColor(int time, const CRGBColor& color);

    // ------------------------------------------------------------------ factors

    float GetAmbientFactor(int time) const;
    float GetDiffuseFactor(int time) const;
    float GetSpecularFactor(int time) const;
    float GetTransparencyFactor(int time) const;
    float GetBumpFactor(int time) const;
    /// \brief Factor setters clamp to [0, 1].
    void SetAmbientFactor(int time, float factor);
    void SetDiffuseFactor(int time, float factor);
    void SetSpecularFactor(int time, float factor);
    void SetTransparencyFactor(int time, float factor);
    void SetBumpFactor(int time, float factor);

    /// \brief The smoothing angle at \p time, radians; the library's default angle
    ///        (CMaterialDefaults, the preferences) when the key is missing or holds -1.
    float GetSmoothAngle(int time) const;
    /// \brief -1 is stored as it is (use the library's angle); other angles are clamped to
    ///        [0, π].
    void SetSmoothAngle(int time, float angle);

    /// \brief The vertex-colour channel ID (0xFFFFFFFF: none) and, in \p factor, the
    ///        vertex-colour factor at \p time (1 without a key).
    unsigned GetVertexColor(int time, float& factor) const;
    /// \brief Sets the channel and the factor (clamped to [0, 1]) at \p time.
    void SetVertexColor(int time, unsigned channelId, float factor);
    /// \brief Whether the transparency factor is above 0 or the diffuse alpha below 255.
    bool IsTransparent(int time) const;

    // ------------------------------------------------------------------ identity

    const CXTString& GetName() const { return m_Name; }
    void SetName(const CXTString& name);
    unsigned GetMaterialID() const { return m_MaterialID; }
    unsigned GetFlags() const { return m_Flags; }
    bool IsFlagSet(unsigned flags) const { return (m_Flags & flags) == flags; }
    bool IsOneFlagSet(unsigned flags) const { return (m_Flags & flags) != 0; }
    void SetFlag(_MATERIAL_FLAGS flag, bool set) { SetFlags(unsigned(flag), set); }
    void SetFlags(unsigned flags, bool set) { m_Flags = set ? m_Flags | flags : m_Flags & ~flags; }
    /// \brief A word free for algorithms (marks during a walk); cleared before each store and
    ///        never archived.
    unsigned GetScratch() const { return m_Scratch; }
    void SetScratch(unsigned value) { m_Scratch = value; }
    CCustomData& GetCustomData() { return m_CustomData; }
    const CCustomData& GetCustomData() const { return m_CustomData; }
    /// \brief The table that indexes the material; null when it has none.
    CMaterials* GetOwner() const { return m_Owner; }

    /// \brief The next value of the material counter (the ID the next material gets).
    static unsigned GetNextMaterialID();

    // ------------------------------------------------------------------ maps

    CMaterialMap* GetAmbientMaps() const { return m_Maps[kAmbientSlot].get(); }
    CMaterialMap* GetDiffuseMaps() const { return m_Maps[kDiffuseSlot].get(); }
    CMaterialMap* GetSpecularMaps() const { return m_Maps[kSpecularSlot].get(); }
    CMaterialMap* GetTransparencyMaps() const { return m_Maps[kTransparencySlot].get(); }
    CMaterialMap* GetBumpMaps() const { return m_Maps[kBumpSlot].get(); }
    /// \brief The map of \p type; null when the slot is empty or the type is not 1 to 5.
    CMaterialMap* GetMaterialMap(MapType type) const;
    /// \brief Adds a map (CMaterialMap::Create) in the slot of \p type and returns it; the map
    ///        already in the slot is returned unchanged. Null for an empty file name or a type
    ///        outside 1 to 5. The map belongs to the material.
    CMaterialMap* AddMaterialMap(const CXTString& fileName, unsigned channelId, MapType type,
                                 MapProjection projection);
    /// \brief Deletes the map of \p type; false when the slot was empty.
    bool RemoveMaterialMap(MapType type);

    /// \brief Renumbers channels: the vertex-colour channel is asked for as type 4, each map's
    ///        channel as type 1; \p renumber answers true with the new ID. IDs it does not
    ///        know stay. The scene's channel-renumbering map is fed through it.
    void ChangeChannelID(
        const std::function<bool(unsigned id, unsigned type, unsigned& newId)>& renumber);

    // ------------------------------------------------------------------ comparison and copy

    /// \brief Equal keys, each map slot empty in both or holding equal maps, and the same
    ///        vertex-colour channel. Name, flags and custom data are not compared.
    bool HasSameParameters(const C3DMaterial& other) const;
    /// \brief Equal names and HasSameParameters.
    bool operator==(const C3DMaterial& other) const;
    bool operator!=(const C3DMaterial& other) const { return !(*this == other); }
    /// \brief Copies keys, name, flags, custom data, vertex-colour channel and copies of the
    ///        maps; not the ID nor the table.
    C3DMaterial& operator=(const C3DMaterial& other);

    void Serialize(CXArchive& ar) override;

protected:
    /// \brief Gives the material the next value of the counter.
    void InitMaterialId();

private:
    friend class CMaterials;

    enum
    {
        kAmbientSlot,
        kDiffuseSlot,
        kSpecularSlot,
        kTransparencySlot,
        kBumpSlot,
        kSlotNbr
    };
    static int SlotOf(MapType type);

    float GetFloat(int time, uint64_t classId, float defaultValue) const;
    void SetFloat(int time, uint64_t classId, float value);
    CRGBColor GetColor(int time, uint64_t classId, const CRGBColor& defaultValue) const;
    void SetColor(int time, uint64_t classId, const CRGBColor& color);
    static CRGBColor ApplyFactor(CRGBColor color, float factor);
    /// Raises the counter past \p id.
    static void RaiseCounter(unsigned id);

    unsigned m_Flags = 0;
    unsigned m_Scratch = 0;
    CXTString m_Name;
    CCustomData m_CustomData;
    CMaterials* m_Owner = nullptr;
    std::unique_ptr<CMaterialMap> m_Maps[kSlotNbr];
    unsigned m_MaterialID = 0;
    unsigned m_VertexColorChannel = kZanNone;
};
