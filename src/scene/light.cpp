// Lights: parameters in the custom data and the display mesh of each kind.
#include <3dzan/scene/light.h>

#include <3dzan/geometry/points.h>
#include <3dzan/scene/displaymesh.h>
#include <3dzan/scene/geomobject.h>

#include <cmath>
#include <cstring>
#include <numbers>

namespace
{
constexpr double kDefaultIntensity = 1.0;
constexpr double kDefaultOuterAngle = std::numbers::pi / 6;

static_assert(C3DLight::kColorID == ZanTag("lclr"));
static_assert(C3DLight::kLightKindID == ZanTag("lknd"));
static_assert(C3DLight::kInnerAngleID == ZanTag("lina"));
static_assert(C3DLight::kInnerRadiusID == ZanTag("linr"));
static_assert(C3DLight::kIntensityID == ZanTag("lint"));
static_assert(C3DLight::kOuterAngleID == ZanTag("loua"));
static_assert(C3DLight::kOuterRadiusID == ZanTag("lour"));

double ReadDouble(const CCustomData& data, unsigned id, double defaultValue)
{
    double value = data.GetDouble(id, defaultValue);
    return std::isfinite(value) ? value : defaultValue;
}
} // namespace

ZAN_IMPLEMENT_DYNCREATE(C3DLight, C3DBaseObject)

C3DLight::C3DLight() : C3DBaseObject(_ObjectKindLight)
{
    SetFlag(_ObjectNoShading, true);
}

C3DLight::~C3DLight()
{
    ReleaseDisplayMesh();
}

bool C3DLight::SetChecked(unsigned id, double value, double low, double high)
{
    if (!std::isfinite(value) || value < low || value > high)
        return false;
    GetCustomData().SetDouble(id, value);
    return true;
}

CRGBColor C3DLight::GetColor() const
{
    size_t size = 0;
    const uint8_t* bytes = GetCustomData().GetBytes(kColorID, size);
    CRGBColor color;
    if (bytes && size == sizeof(CRGBColor))
        color = CRGBColor(bytes[0], bytes[1], bytes[2], bytes[3]);
    return color;
}

void C3DLight::SetColor(const CRGBColor& color)
{
    const uint8_t bytes[4] = {color.m_Red, color.m_Green, color.m_Blue, color.m_Alpha};
    GetCustomData().SetBytes(kColorID, bytes, sizeof bytes);
}

int C3DLight::GetLightKind() const
{
    return GetCustomData().GetInt(kLightKindID, _LightDirectional);
}

void C3DLight::SetLightKind(int kind)
{
    GetCustomData().SetInt(kLightKindID, kind);
}

double C3DLight::GetInnerAngle() const
{
    return ReadDouble(GetCustomData(), kInnerAngleID, 0.0);
}

bool C3DLight::SetInnerAngle(double angle)
{
    return SetChecked(kInnerAngleID, angle, 0.0, std::numbers::pi);
}

double C3DLight::GetOuterAngle() const
{
    return ReadDouble(GetCustomData(), kOuterAngleID, kDefaultOuterAngle);
}

bool C3DLight::SetOuterAngle(double angle)
{
    return SetChecked(kOuterAngleID, angle, 0.0, std::numbers::pi);
}

double C3DLight::GetInnerRadius() const
{
    return ReadDouble(GetCustomData(), kInnerRadiusID, 0.0);
}

bool C3DLight::SetInnerRadius(double radius)
{
    return SetChecked(kInnerRadiusID, radius, 0.0, HUGE_VAL);
}

double C3DLight::GetOuterRadius() const
{
    return ReadDouble(GetCustomData(), kOuterRadiusID, 0.0);
}

bool C3DLight::SetOuterRadius(double radius)
{
    return SetChecked(kOuterRadiusID, radius, 0.0, HUGE_VAL);
}

void C3DLight::ClearAttenuation()
{
    GetCustomData().RemoveValue(kInnerRadiusID);
    GetCustomData().RemoveValue(kOuterRadiusID);
}

double C3DLight::GetIntensity() const
{
    return ReadDouble(GetCustomData(), kIntensityID, kDefaultIntensity);
}

bool C3DLight::SetIntensity(double intensity)
{
    return SetChecked(kIntensityID, intensity, -HUGE_VAL, HUGE_VAL);
}

bool C3DLight::IsFinalObject() const
{
    return false;
}

const C3DDisplayMesh* C3DLight::GetDisplayMesh()
{
    return m_Icon.Get(
        [&]() -> std::unique_ptr<C3DDisplayMesh>
        {
            switch (GetLightKind())
            {
            case _LightDirectional:
                return C3DDisplayMesh::CreateDirectionalLightIcon();
            case _LightOmni:
                return C3DDisplayMesh::CreateOmniLightIcon();
            case _LightSpot:
                return C3DDisplayMesh::CreateSpotLightIcon(GetOuterAngle());
            default:
                return nullptr;
            }
        });
}

void C3DLight::ReleaseDisplayMesh()
{
    m_Icon.Release();
}

C3DBaseObject* C3DLight::GetFinalObject(bool detach)
{
    return m_Icon.GetFinalObject(GetDisplayMesh(), GetScene(), detach);
}
