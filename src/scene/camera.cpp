// Cameras: parameters in the custom data, the view matrices and the display mesh.
#include <3dzan/scene/camera.h>

#include <3dzan/animation/math.h>
#include <3dzan/scene/displaymesh.h>
#include <3dzan/scene/geomobject.h>

#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

namespace
{
constexpr double kDefaultAperture = 8.0;
constexpr double kDefaultAspectRatio = 1.0;
constexpr double kDefaultClip = -1.0;
constexpr double kDefaultFocusDistance = 0.0;
constexpr double kDefaultFov = std::numbers::pi / 4;
constexpr double kDefaultZoom = 1.0;
constexpr double kNormaliseGuard = 1e-15;

static_assert(C3DCamera::kApertureID == ZanTag("caap"));
static_assert(C3DCamera::kAspectRatioID == ZanTag("caar"));
static_assert(C3DCamera::kFarClipID == ZanTag("cafc"));
static_assert(C3DCamera::kFocusDistanceID == ZanTag("cafd"));
static_assert(C3DCamera::kFovID == ZanTag("cafo"));
static_assert(C3DCamera::kNearClipID == ZanTag("canc"));
static_assert(C3DCamera::kProjectionID == ZanTag("capj"));
static_assert(C3DCamera::kTargetID == ZanTag("catg"));
static_assert(C3DCamera::kZoomID == ZanTag("cazm"));

// A stored double, or the default when it is absent, of another kind or not finite.
double ReadDouble(const CCustomData& data, unsigned id, double defaultValue)
{
    double value = data.GetDouble(id, defaultValue);
    return std::isfinite(value) ? value : defaultValue;
}

// What a parameter adds to the camera checksum: nothing for 0.0, else the low 32 bits.
uint32_t ChecksumTerm(double value)
{
    if (value == 0.0)
        return 0;
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return uint32_t(bits);
}

struct CVec
{
    double x, y, z;
    CVec operator-(const CVec& o) const { return {x - o.x, y - o.y, z - o.z}; }
    CVec Cross(const CVec& o) const
    {
        return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x};
    }
    double Dot(const CVec& o) const { return x * o.x + y * o.y + z * o.z; }
    void Normalise()
    {
        double length = std::sqrt(Dot(*this));
        if (length > kNormaliseGuard)
        {
            x /= length;
            y /= length;
            z /= length;
        }
    }
    bool IsFinite() const { return std::isfinite(x) && std::isfinite(y) && std::isfinite(z); }
};

bool BuildLookAt(C4x4TMatrix<float>& matrix, const C3DTPoint<float>& eyePoint,
                 const C3DTPoint<float>& targetPoint, const C3DTVector<float>& upVector)
{
    CVec eye{eyePoint.m_X, eyePoint.m_Y, eyePoint.m_Z};
    CVec target{targetPoint.m_X, targetPoint.m_Y, targetPoint.m_Z};
    CVec up{upVector.m_X, upVector.m_Y, upVector.m_Z};
    if (!eye.IsFinite() || !target.IsFinite() || !up.IsFinite())
        return false;
    CVec f = eye - target;
    f.Normalise();
    CVec s = up.Cross(f);
    CVec u = f.Cross(s); // from s before it is normalised
    s.Normalise();
    u.Normalise();
    const CVec rows[3] = {s, u, f};
    C4x4TMatrix<float> m;
    for (int r = 0; r < 3; ++r)
    {
        m[r][0] = float(rows[r].x);
        m[r][1] = float(rows[r].y);
        m[r][2] = float(rows[r].z);
        m[r][3] = float(-rows[r].Dot(eye));
    }
    matrix = m;
    return true;
}
} // namespace

ZAN_IMPLEMENT_DYNCREATE(C3DCamera, C3DBaseObject)

C3DCamera::C3DCamera() : C3DBaseObject(_ObjectKindCamera)
{
    SetFlag(_ObjectNoShading, true);
}

C3DCamera::~C3DCamera()
{
    ReleaseDisplayMesh();
}

// ---------------------------------------------------------------- parameters

bool C3DCamera::SetPositive(unsigned id, double value)
{
    if (!std::isfinite(value) || value <= 0.0)
        return false;
    GetCustomData().SetDouble(id, value);
    return true;
}

double C3DCamera::GetAperture() const
{
    return ReadDouble(GetCustomData(), kApertureID, kDefaultAperture);
}

bool C3DCamera::SetAperture(double aperture)
{
    return SetPositive(kApertureID, aperture);
}

double C3DCamera::GetAspectRatio() const
{
    return ReadDouble(GetCustomData(), kAspectRatioID, kDefaultAspectRatio);
}

bool C3DCamera::SetAspectRatio(double ratio)
{
    return SetPositive(kAspectRatioID, ratio);
}

double C3DCamera::GetFarClip() const
{
    return ReadDouble(GetCustomData(), kFarClipID, kDefaultClip);
}

bool C3DCamera::SetFarClip(double distance)
{
    return SetNearFarClip(GetNearClip(), distance);
}

double C3DCamera::GetNearClip() const
{
    return ReadDouble(GetCustomData(), kNearClipID, kDefaultClip);
}

bool C3DCamera::SetNearClip(double distance)
{
    return SetNearFarClip(distance, GetFarClip());
}

bool C3DCamera::SetNearFarClip(double nearDistance, double farDistance)
{
    if (!std::isfinite(nearDistance) || !std::isfinite(farDistance))
        return false;
    if (nearDistance >= 0.0 && farDistance >= 0.0 && nearDistance >= farDistance)
        return false;
    // Only the ids that change are written, so that an unset clip stays unset.
    CCustomData& data = GetCustomData();
    if (data.HasValue(kNearClipID) || nearDistance != kDefaultClip)
        data.SetDouble(kNearClipID, nearDistance);
    if (data.HasValue(kFarClipID) || farDistance != kDefaultClip)
        data.SetDouble(kFarClipID, farDistance);
    return true;
}

double C3DCamera::GetFocusDistance() const
{
    return ReadDouble(GetCustomData(), kFocusDistanceID, kDefaultFocusDistance);
}

bool C3DCamera::SetFocusDistance(double distance)
{
    if (!std::isfinite(distance) || distance < 0.0)
        return false;
    GetCustomData().SetDouble(kFocusDistanceID, distance);
    return true;
}

double C3DCamera::GetFov() const
{
    return ReadDouble(GetCustomData(), kFovID, kDefaultFov);
}

bool C3DCamera::SetFov(double fov)
{
    if (!std::isfinite(fov) || fov <= 0.0 || fov >= std::numbers::pi)
        return false;
    GetCustomData().SetDouble(kFovID, fov);
    return true;
}

int C3DCamera::GetProjection() const
{
    return GetCustomData().GetInt(kProjectionID, _ProjectionPerspective);
}

bool C3DCamera::SetProjection(int projection)
{
    if (projection != _ProjectionPerspective && projection != _ProjectionOrthographic)
        return false;
    GetCustomData().SetInt(kProjectionID, projection);
    return true;
}

int C3DCamera::GetTarget() const
{
    return GetCustomData().GetInt(kTargetID, -1);
}

void C3DCamera::SetTarget(int target)
{
    if (target < 0)
        GetCustomData().RemoveValue(kTargetID);
    else
        GetCustomData().SetInt(kTargetID, target);
}

double C3DCamera::GetZoom() const
{
    return ReadDouble(GetCustomData(), kZoomID, kDefaultZoom);
}

bool C3DCamera::SetZoom(double zoom)
{
    return SetPositive(kZoomID, zoom);
}

unsigned C3DCamera::GetChecksum(unsigned) const
{
    uint32_t sum = ChecksumTerm(GetAperture()) + ChecksumTerm(GetFocusDistance()) +
                   ChecksumTerm(GetFov()) + ChecksumTerm(GetAspectRatio()) +
                   ChecksumTerm(GetZoom());
    return sum + (uint32_t(GetProjection()) << 4);
}

// ---------------------------------------------------------------- matrices

bool C3DCamera::LookAt(C4x4TMatrix<float>& matrix, const C3DTPoint<float>& eye,
                       const C3DTPoint<float>& target, const C3DTVector<float>& up)
{
    return BuildLookAt(matrix, eye, target, up);
}

bool C3DCamera::PositionMatrix(C4x4TMatrix<float>& matrix, const C3DTPoint<float>& eye,
                               const C3DTPoint<float>& target, const C3DTVector<float>& up)
{
    C4x4TMatrix<float> view;
    if (!BuildLookAt(view, eye, target, up))
        return false;
    return view.GetInverse(matrix);
}

// ---------------------------------------------------------------- display

bool C3DCamera::IsFinalObject() const
{
    return false;
}

const C3DDisplayMesh* C3DCamera::GetDisplayMesh()
{
    return m_Icon.Get([&] { return C3DDisplayMesh::CreateCameraIcon(GetFov(), GetAspectRatio()); });
}

void C3DCamera::ReleaseDisplayMesh()
{
    m_Icon.Release();
}

C3DBaseObject* C3DCamera::GetFinalObject(bool detach)
{
    return m_Icon.GetFinalObject(GetDisplayMesh(), GetScene(), detach);
}
