// Materials: parameters kept as keys, the process-wide material ID counter, the texture map
// slots, comparison, copies and the archive.
//
// Every parameter is read by evaluating the key of its class id at a tick, so any of them
// can be animated; a material without a key answers the parameter's default. Changes to the
// name and the diffuse colour go through the owner table's indexes (CMaterialReindex below).
#include <3dzan/materials/materials.h>

#include <3dzan/foundation/xarchive.h>

#include <atomic>
#include <cmath>

namespace
{
const CRGBColor kDefaultAmbient(30, 30, 30, 255);
const CRGBColor kDefaultDiffuse(192, 192, 192, 255);
const CRGBColor kDefaultSpecular(192, 192, 192, 255);
const float kUseLibraryAngle = -1.0f;
const float kPi = 3.14159265358979323846f;

std::atomic<unsigned> g_NextMaterialID{1};

uint8_t TruncateByte(float value)
{
    if (!(value > 0.0f))
        return 0; // NaN too
    return value >= 255.0f ? 255 : uint8_t(value);
}

float Clamp01(float value)
{
    return value < 0.0f ? 0.0f : value > 1.0f ? 1.0f : value;
}
} // namespace

/// Takes a material out of its table's indexes while it lives and puts it back afterwards.
class CMaterialReindex
{
public:
    explicit CMaterialReindex(C3DMaterial* material) : m_Material(material)
    {
        if (m_Material->GetOwner())
            m_Material->GetOwner()->HashRemove(m_Material);
    }
    ~CMaterialReindex()
    {
        if (m_Material->GetOwner())
            m_Material->GetOwner()->HashInsert(m_Material);
    }
    CMaterialReindex(const CMaterialReindex&) = delete;
    CMaterialReindex& operator=(const CMaterialReindex&) = delete;

private:
    C3DMaterial* m_Material;
};

ZAN_IMPLEMENT_DYNCREATE(C3DMaterial, CXObject)

C3DMaterial::C3DMaterial() : m_MaterialID(g_NextMaterialID.fetch_add(1)) {}

C3DMaterial::C3DMaterial(const C3DMaterial& other)
    : CXObject(other), C3DKeyframable(other), m_Flags(other.m_Flags), m_Name(other.m_Name),
      m_CustomData(other.m_CustomData), m_MaterialID(g_NextMaterialID.fetch_add(1)),
      m_VertexColorChannel(other.m_VertexColorChannel)
{
    for (int slot = 0; slot < kSlotNbr; ++slot)
        if (other.m_Maps[slot])
            m_Maps[slot] = std::make_unique<CMaterialMap>(*other.m_Maps[slot]);
}

C3DMaterial::~C3DMaterial() = default;

void C3DMaterial::InitMaterialId()
{
    m_MaterialID = g_NextMaterialID.fetch_add(1);
}

unsigned C3DMaterial::GetNextMaterialID()
{
    return g_NextMaterialID.load();
}

void C3DMaterial::RaiseCounter(unsigned id)
{
    if (id == kZanNone)
        return;
    unsigned current = g_NextMaterialID.load();
    while (current <= id && !g_NextMaterialID.compare_exchange_weak(current, id + 1))
    {
    }
}

// ---------------------------------------------------------------- parameters as keys

float C3DMaterial::GetFloat(int time, uint64_t classId, float defaultValue) const
{
    C3DFloatKey key(classId);
    return Evaluate(time, key) ? key.GetValue() : defaultValue;
}

void C3DMaterial::SetFloat(int time, uint64_t classId, float value)
{
    C3DKeyframe* key = GetKey(time, _KeyAt, classId);
    if (!key)
        key = CreateKey(time, classId);
    static_cast<C3DFloatKey*>(key)->SetValue(value);
}

CRGBColor C3DMaterial::GetColor(int time, uint64_t classId, const CRGBColor& defaultValue) const
{
    C3DColorKey key(classId);
    return Evaluate(time, key) ? key.GetValue() : defaultValue;
}

void C3DMaterial::SetColor(int time, uint64_t classId, const CRGBColor& color)
{
    C3DKeyframe* key = GetKey(time, _KeyAt, classId);
    if (!key)
        key = CreateKey(time, classId);
    static_cast<C3DColorKey*>(key)->SetValue(color);
}

CRGBColor C3DMaterial::ApplyFactor(CRGBColor color, float factor)
{
    color.m_Red = TruncateByte(color.m_Red * factor);
    color.m_Green = TruncateByte(color.m_Green * factor);
    color.m_Blue = TruncateByte(color.m_Blue * factor);
    return color;
}

CRGBColor C3DMaterial::GetAmbientColor(int time, bool withFactor) const
{
    CRGBColor color = GetColor(time, kAmbientColorKey, kDefaultAmbient);
    return withFactor ? ApplyFactor(color, GetAmbientFactor(time)) : color;
}

CRGBColor C3DMaterial::GetDiffuseColor(int time, bool withFactor) const
{
    CRGBColor color = GetColor(time, kDiffuseColorKey, kDefaultDiffuse);
    if (!withFactor)
        return color;
    color = ApplyFactor(color, GetDiffuseFactor(time));
    color.m_Alpha = TruncateByte(color.m_Alpha * (1.0f - GetTransparencyFactor(time)));
    return color;
}

CRGBColor C3DMaterial::GetSpecularColor(int time, bool withFactor) const
{
    CRGBColor color = GetColor(time, kSpecularColorKey, kDefaultSpecular);
    return withFactor ? ApplyFactor(color, GetSpecularFactor(time)) : color;
}

namespace
{
void ToFloats(const CRGBColor& color, float factor, float alphaFactor, float rgba[4])
{
    rgba[0] = color.m_Red / 255.0f * factor;
    rgba[1] = color.m_Green / 255.0f * factor;
    rgba[2] = color.m_Blue / 255.0f * factor;
    rgba[3] = color.m_Alpha / 255.0f * alphaFactor;
}
} // namespace

void C3DMaterial::FloatGetAmbientColor(int time, float rgba[4]) const
{
    ToFloats(GetAmbientColor(time), GetAmbientFactor(time), 1.0f, rgba);
}

void C3DMaterial::FloatGetDiffuseColor(int time, float rgba[4]) const
{
    ToFloats(GetDiffuseColor(time), GetDiffuseFactor(time), 1.0f - GetTransparencyFactor(time),
             rgba);
}

void C3DMaterial::FloatGetSpecularColor(int time, float rgba[4]) const
{
    ToFloats(GetSpecularColor(time), GetSpecularFactor(time), 1.0f, rgba);
}

void C3DMaterial::SetAmbientColor(int time, const CRGBColor& color)
{
    SetColor(time, kAmbientColorKey, color);
}

void C3DMaterial::SetDiffuseColor(int time, const CRGBColor& color)
{
    if (GetDiffuseColor(time) == color)
        return;
    CMaterialReindex reindex(this);
    SetColor(time, kDiffuseColorKey, color);
}

void C3DMaterial::SetSpecularColor(int time, const CRGBColor& color)
{
    SetColor(time, kSpecularColorKey, color);
}

float C3DMaterial::GetAmbientFactor(int time) const
{
    return GetFloat(time, kAmbientFactorKey, 1.0f);
}
float C3DMaterial::GetDiffuseFactor(int time) const
{
    return GetFloat(time, kDiffuseFactorKey, 1.0f);
}
float C3DMaterial::GetSpecularFactor(int time) const
{
    return GetFloat(time, kSpecularFactorKey, 1.0f);
}
float C3DMaterial::GetTransparencyFactor(int time) const
{
    return GetFloat(time, kTransparencyFactorKey, 0.0f);
}
float C3DMaterial::GetBumpFactor(int time) const
{
    return GetFloat(time, kBumpFactorKey, 1.0f);
}

void C3DMaterial::SetAmbientFactor(int time, float factor)
{
    if (!std::isnan(factor))
        SetFloat(time, kAmbientFactorKey, Clamp01(factor));
}
void C3DMaterial::SetDiffuseFactor(int time, float factor)
{
    if (!std::isnan(factor))
        SetFloat(time, kDiffuseFactorKey, Clamp01(factor));
}
void C3DMaterial::SetSpecularFactor(int time, float factor)
{
    if (!std::isnan(factor))
        SetFloat(time, kSpecularFactorKey, Clamp01(factor));
}
void C3DMaterial::SetTransparencyFactor(int time, float factor)
{
    if (!std::isnan(factor))
        SetFloat(time, kTransparencyFactorKey, Clamp01(factor));
}
void C3DMaterial::SetBumpFactor(int time, float factor)
{
    if (!std::isnan(factor))
        SetFloat(time, kBumpFactorKey, Clamp01(factor));
}

float C3DMaterial::GetSmoothAngle(int time) const
{
    const float angle = GetFloat(time, kSmoothAngleKey, kUseLibraryAngle);
    return angle == kUseLibraryAngle ? CMaterialDefaults::GetMaterialDefaults().GetSmoothAngle()
                                     : angle;
}

void C3DMaterial::SetSmoothAngle(int time, float angle)
{
    if (std::isnan(angle))
        return;
    if (angle != kUseLibraryAngle)
    {
        const double degrees = double(angle) * 180.0 / 3.14159265358979323846;
        angle = degrees < 0.0 ? 0.0f : degrees > 180.0 ? kPi : angle;
    }
    SetFloat(time, kSmoothAngleKey, angle);
}

unsigned C3DMaterial::GetVertexColor(int time, float& factor) const
{
    factor = GetFloat(time, kVertexColorFactorKey, 1.0f);
    return m_VertexColorChannel;
}

void C3DMaterial::SetVertexColor(int time, unsigned channelId, float factor)
{
    if (std::isnan(factor))
        return;
    SetFloat(time, kVertexColorFactorKey, Clamp01(factor));
    m_VertexColorChannel = channelId;
}

bool C3DMaterial::IsTransparent(int time) const
{
    return GetTransparencyFactor(time) > 0.0f || GetDiffuseColor(time).m_Alpha < 255;
}

void C3DMaterial::SetName(const CXTString& name)
{
    if (name == m_Name)
        return;
    CMaterialReindex reindex(this);
    m_Name = name;
}

// ---------------------------------------------------------------- maps

int C3DMaterial::SlotOf(MapType type)
{
    switch (type)
    {
    case _MapAmbient:
        return kAmbientSlot;
    case _MapDiffuse:
        return kDiffuseSlot;
    case _MapSpecular:
        return kSpecularSlot;
    case _MapTransparency:
        return kTransparencySlot;
    case _MapBump:
        return kBumpSlot;
    default:
        return -1;
    }
}

CMaterialMap* C3DMaterial::GetMaterialMap(MapType type) const
{
    const int slot = SlotOf(type);
    return slot < 0 ? nullptr : m_Maps[slot].get();
}

CMaterialMap* C3DMaterial::AddMaterialMap(const CXTString& fileName, unsigned channelId,
                                          MapType type, MapProjection projection)
{
    const int slot = SlotOf(type);
    if (fileName.IsEmpty() || slot < 0)
        return nullptr;
    if (!m_Maps[slot])
        m_Maps[slot].reset(CMaterialMap::Create(fileName, channelId, type, projection));
    return m_Maps[slot].get();
}

bool C3DMaterial::RemoveMaterialMap(MapType type)
{
    const int slot = SlotOf(type);
    if (slot < 0 || !m_Maps[slot])
        return false;
    m_Maps[slot].reset();
    return true;
}

void C3DMaterial::ChangeChannelID(
    const std::function<bool(unsigned id, unsigned type, unsigned& newId)>& renumber)
{
    if (!renumber)
        return;
    unsigned newId = m_VertexColorChannel;
    if (renumber(m_VertexColorChannel, 4, newId))
        m_VertexColorChannel = newId;
    for (auto& map : m_Maps)
        if (map)
            map->ChangeChannelID(renumber);
}

// ---------------------------------------------------------------- comparison and copy

bool C3DMaterial::HasSameParameters(const C3DMaterial& other) const
{
    if (m_VertexColorChannel != other.m_VertexColorChannel || !C3DKeyframable::operator==(other))
        return false;
    for (int slot = 0; slot < kSlotNbr; ++slot)
    {
        const CMaterialMap* a = m_Maps[slot].get();
        const CMaterialMap* b = other.m_Maps[slot].get();
        if ((a == nullptr) != (b == nullptr) || (a && !(*a == *b)))
            return false;
    }
    return true;
}

bool C3DMaterial::operator==(const C3DMaterial& other) const
{
    return m_Name == other.m_Name && HasSameParameters(other);
}

C3DMaterial& C3DMaterial::operator=(const C3DMaterial& other)
{
    if (this == &other)
        return *this;
    std::unique_ptr<CMaterialMap> maps[kSlotNbr];
    for (int slot = 0; slot < kSlotNbr; ++slot)
        if (other.m_Maps[slot])
            maps[slot] = std::make_unique<CMaterialMap>(*other.m_Maps[slot]);
    CMaterialReindex reindex(this);
    C3DKeyframable::operator=(other);
    m_Name = other.m_Name;
    m_Flags = other.m_Flags;
    m_CustomData = other.m_CustomData;
    m_VertexColorChannel = other.m_VertexColorChannel;
    for (int slot = 0; slot < kSlotNbr; ++slot)
        m_Maps[slot] = std::move(maps[slot]);
    return *this;
}

// ---------------------------------------------------------------- archive

void C3DMaterial::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        m_Scratch = 0;
        C3DKeyframable::Serialize(ar);
        ar << m_Flags << m_Name;
        for (const auto& map : m_Maps)
        {
            ar << int(map ? 1 : 0);
            if (map)
                map->Serialize(ar);
        }
        ar << m_VertexColorChannel << m_MaterialID;
        m_CustomData.Serialize(ar);
        return;
    }

    C3DKeyframable keys;
    keys.Serialize(ar);
    unsigned flags = 0, vertexColor = 0, id = 0;
    CXTString name;
    ar >> flags >> name;
    std::unique_ptr<CMaterialMap> maps[kSlotNbr];
    for (auto& map : maps)
    {
        int present = 0;
        ar >> present;
        if (present != 0 && present != 1)
            throw CXArchiveException(CXArchiveException::_BadValue,
                                     "a material map slot that is neither empty nor filled");
        if (present)
        {
            map = std::make_unique<CMaterialMap>();
            map->Serialize(ar);
        }
    }
    ar >> vertexColor >> id;
    CCustomData data;
    data.Serialize(ar);
    if (m_Owner && id != m_MaterialID && m_Owner->GetMaterial(id))
        throw CXArchiveException(CXArchiveException::_BadValue,
                                 "a material ID that its table already uses");

    {
        CMaterialReindex reindex(this);
        if (m_Owner && id != m_MaterialID)
            m_Owner->ChangeID(this, id);
        m_MaterialID = id;
        SwapKeys(keys);
        m_Flags = flags;
        m_Name.str().swap(name.str());
        for (int slot = 0; slot < kSlotNbr; ++slot)
            m_Maps[slot] = std::move(maps[slot]);
        m_VertexColorChannel = vertexColor;
        m_CustomData.Swap(data);
    }
    RaiseCounter(id);
}
