// Cameras and lights: defaults, setters that refuse bad values, the view matrices, and the
// display meshes (counts, valid closed outward pieces, the parts that follow the parameters).
#include "scene/object_checks.h"

#include <3dzan/animation/math.h>
#include <3dzan/geometry/facelist.h>
#include <3dzan/geometry/pointlist.h>
#include <3dzan/scene/camera.h>
#include <3dzan/scene/light.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace
{
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Largest |x| and |y| among the points at depth z.
void ExtentAt(const C3DDisplayMesh& mesh, float z, float& maxX, float& maxY)
{
    maxX = maxY = 0;
    const C3DPointList& points = mesh.GetPointList();
    for (int i = 0; i < points.GetSize(); ++i)
        if (points[i].m_Z == z)
        {
            maxX = std::max(maxX, std::fabs(points[i].m_X));
            maxY = std::max(maxY, std::fabs(points[i].m_Y));
        }
}

bool HasPoint(const C3DDisplayMesh& mesh, float x, float y, float z)
{
    const C3DPointList& points = mesh.GetPointList();
    for (int i = 0; i < points.GetSize(); ++i)
        if (std::fabs(points[i].m_X - x) < 1e-6f && std::fabs(points[i].m_Y - y) < 1e-6f &&
            points[i].m_Z == z)
            return true;
    return false;
}
} // namespace

TEST(CameraParameters, DefaultsWhenAbsentAndTheStoredValuesOtherwise)
{
    C3DCamera camera;
    EXPECT_TRUE(camera.IsFlagSet(_ObjectNoShading));
    EXPECT_TRUE(camera.GetCustomData().IsEmpty());
    EXPECT_DOUBLE_EQ(camera.GetFov(), std::numbers::pi / 4);
    EXPECT_EQ(camera.GetZoom(), 1.0);
    EXPECT_EQ(camera.GetAperture(), 8.0);
    EXPECT_EQ(camera.GetAspectRatio(), 1.0);
    EXPECT_EQ(camera.GetFocusDistance(), 0.0);
    EXPECT_EQ(camera.GetNearClip(), -1.0);
    EXPECT_EQ(camera.GetFarClip(), -1.0);
    EXPECT_EQ(camera.GetProjection(), _ProjectionPerspective);
    EXPECT_FALSE(camera.HasTarget());
    EXPECT_EQ(camera.GetTarget(), -1);

    EXPECT_TRUE(camera.SetFov(1.2));
    EXPECT_TRUE(camera.SetAspectRatio(16.0 / 9.0));
    EXPECT_TRUE(camera.SetFocusDistance(12.5));
    EXPECT_TRUE(camera.SetZoom(0.5));
    EXPECT_TRUE(camera.SetAperture(1.4));
    EXPECT_TRUE(camera.SetProjection(_ProjectionOrthographic));
    camera.SetTarget(0);
    EXPECT_EQ(camera.GetFov(), 1.2);
    EXPECT_EQ(camera.GetAspectRatio(), 16.0 / 9.0);
    EXPECT_EQ(camera.GetFocusDistance(), 12.5);
    EXPECT_EQ(camera.GetZoom(), 0.5);
    EXPECT_EQ(camera.GetAperture(), 1.4);
    EXPECT_EQ(camera.GetProjection(), _ProjectionOrthographic);
    EXPECT_TRUE(camera.HasTarget());
    EXPECT_EQ(camera.GetTarget(), 0);
    EXPECT_TRUE(camera.IsDefined(C3DCamera::kFovID));
    EXPECT_FALSE(camera.IsDefined(C3DCamera::kNearClipID));
    camera.SetTarget(-1);
    EXPECT_FALSE(camera.HasTarget());

    // The values live in the bag under their ids, so a bag filled elsewhere reads the same.
    C3DCamera other;
    other.GetCustomData().SetDouble(0x6361666F, 0.7);
    other.GetCustomData().SetInt(0x63617467, 9);
    EXPECT_EQ(other.GetFov(), 0.7);
    EXPECT_EQ(other.GetTarget(), 9);
    // A value of another kind or not finite reads as the default.
    other.GetCustomData().SetString(C3DCamera::kZoomID, "large");
    other.GetCustomData().SetDouble(C3DCamera::kApertureID, kNaN);
    EXPECT_EQ(other.GetZoom(), 1.0);
    EXPECT_EQ(other.GetAperture(), 8.0);
}

TEST(CameraParameters, BadValuesAreRefusedAndChangeNothing)
{
    C3DCamera camera;
    ASSERT_TRUE(camera.SetFov(0.8));
    ASSERT_TRUE(camera.SetNearFarClip(1.0, 100.0));
    const CCustomData before = camera.GetCustomData();
    EXPECT_TRUE(zantest::AllRefused({
        camera.SetFov(kNaN), camera.SetFov(0.0), camera.SetFov(std::numbers::pi),
        camera.SetFov(-0.5), camera.SetAspectRatio(0.0), camera.SetAspectRatio(-2.0),
        camera.SetAspectRatio(kInf), camera.SetZoom(kNaN), camera.SetZoom(0.0),
        camera.SetAperture(-1.0), camera.SetFocusDistance(-0.1), camera.SetFocusDistance(kInf),
        camera.SetProjection(2), camera.SetProjection(-1), camera.SetNearFarClip(5.0, 2.0),
        camera.SetNearFarClip(kNaN, 10.0), camera.SetNearClip(200.0), camera.SetFarClip(0.5),
        camera.SetFarClip(kInf),
    }));
    EXPECT_TRUE(camera.GetCustomData() == before);

    // A negative clip means "let the viewer choose" and may go with any other value.
    EXPECT_TRUE(camera.SetNearClip(-1.0));
    EXPECT_TRUE(camera.SetFarClip(0.5));
    EXPECT_EQ(camera.GetNearClip(), -1.0);
    EXPECT_EQ(camera.GetFarClip(), 0.5);
    // Setting one clip leaves an unset other one unset.
    C3DCamera fresh;
    EXPECT_TRUE(fresh.SetFarClip(40.0));
    EXPECT_FALSE(fresh.IsDefined(C3DCamera::kNearClipID));
}

TEST(CameraMatrices, LookAtMapsTheEyeToTheOriginAndPositionMatrixUndoesIt)
{
    const C3DTPoint<float> eye(3, 4, 10), target(1, 2, -2);
    const C3DTVector<float> up(0, 1, 0);
    C4x4TMatrix<float> view, place;
    ASSERT_TRUE(C3DCamera::LookAt(view, eye, target, up));
    ASSERT_TRUE(C3DCamera::PositionMatrix(place, eye, target, up));

    auto seen = view.TransformPoint(eye);
    EXPECT_NEAR(seen.m_X, 0, 1e-5);
    EXPECT_NEAR(seen.m_Y, 0, 1e-5);
    EXPECT_NEAR(seen.m_Z, 0, 1e-5);
    // The target lies straight ahead, down -Z, at its distance.
    double distance = (eye - target).GetLength();
    auto ahead = view.TransformPoint(target);
    EXPECT_NEAR(ahead.m_X, 0, 1e-5);
    EXPECT_NEAR(ahead.m_Y, 0, 1e-5);
    EXPECT_NEAR(ahead.m_Z, -distance, 1e-4);
    // Up stays up: a point above the eye is seen above.
    EXPECT_GT(view.TransformPoint(C3DTPoint<float>(3, 5, 10)).m_Y, 0.5f);
    // The rotation part is orthonormal, so the placement is its inverse.
    EXPECT_TRUE((place * view).IsIdentity(1e-5));
    auto origin = place.TransformPoint(C3DTPoint<float>(0, 0, 0));
    EXPECT_NEAR(origin.m_X, 3, 1e-5);
    EXPECT_NEAR(origin.m_Z, 10, 1e-5);

    // Degenerate inputs: up along the line of sight makes a singular view; NaN is refused.
    C4x4TMatrix<float> untouched;
    untouched[0][3] = 7;
    C4x4TMatrix<float> probe = untouched;
    EXPECT_TRUE(C3DCamera::LookAt(probe, eye, C3DTPoint<float>(3, 0, 10), up));
    probe = untouched;
    EXPECT_FALSE(C3DCamera::PositionMatrix(probe, eye, C3DTPoint<float>(3, 0, 10), up));
    EXPECT_EQ(probe, untouched);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(C3DCamera::LookAt(probe, C3DTPoint<float>(nan, 0, 0), target, up));
    EXPECT_FALSE(C3DCamera::PositionMatrix(probe, eye, target, C3DTVector<float>(0, nan, 0)));
    EXPECT_EQ(probe, untouched);
}

TEST(LightParameters, DefaultsSettersAndAttenuation)
{
    C3DLight light;
    EXPECT_TRUE(light.IsFlagSet(_ObjectNoShading));
    EXPECT_EQ(light.GetColor(), CRGBColor());
    EXPECT_EQ(light.GetLightKind(), _LightDirectional);
    EXPECT_EQ(light.GetInnerAngle(), 0.0);
    EXPECT_DOUBLE_EQ(light.GetOuterAngle(), std::numbers::pi / 6);
    EXPECT_EQ(light.GetIntensity(), 1.0);
    EXPECT_EQ(light.GetInnerRadius(), 0.0);
    EXPECT_EQ(light.GetOuterRadius(), 0.0);

    light.SetColor(CRGBColor(255, 128, 1, 200));
    light.SetLightKind(_LightSpot);
    EXPECT_TRUE(light.SetInnerAngle(0.2));
    EXPECT_TRUE(light.SetOuterAngle(0.6));
    EXPECT_TRUE(light.SetIntensity(-0.5));
    EXPECT_TRUE(light.SetInnerRadius(2.0));
    EXPECT_TRUE(light.SetOuterRadius(20.0));
    EXPECT_EQ(light.GetColor(), CRGBColor(255, 128, 1, 200));
    size_t size = 0;
    const uint8_t* bytes = light.GetCustomData().GetBytes(C3DLight::kColorID, size);
    ASSERT_EQ(size, 4u);
    EXPECT_EQ(bytes[1], 128); // red, green, blue, alpha
    EXPECT_EQ(light.GetLightKind(), _LightSpot);
    EXPECT_EQ(light.GetInnerAngle(), 0.2);
    EXPECT_EQ(light.GetOuterAngle(), 0.6);
    EXPECT_EQ(light.GetIntensity(), -0.5);

    const CCustomData before = light.GetCustomData();
    EXPECT_TRUE(zantest::AllRefused({
        light.SetInnerAngle(-0.1), light.SetOuterAngle(4.0), light.SetOuterAngle(kNaN),
        light.SetInnerRadius(-1.0), light.SetOuterRadius(kInf), light.SetIntensity(kNaN),
    }));
    EXPECT_TRUE(light.GetCustomData() == before);

    light.ClearAttenuation();
    EXPECT_FALSE(light.GetCustomData().HasValue(C3DLight::kInnerRadiusID));
    EXPECT_FALSE(light.GetCustomData().HasValue(C3DLight::kOuterRadiusID));
    EXPECT_EQ(light.GetOuterRadius(), 0.0);
    EXPECT_EQ(light.GetOuterAngle(), 0.6);
    // A colour block of the wrong size reads as the default colour.
    uint8_t three[3] = {1, 2, 3};
    light.GetCustomData().SetBytes(C3DLight::kColorID, three, 3);
    EXPECT_EQ(light.GetColor(), CRGBColor());
}

TEST(DisplayMeshes, EveryIconHasItsCountsAndClosedOutwardPieces)
{
    const struct
    {
        const char* name;
        std::unique_ptr<C3DDisplayMesh> mesh;
        int points, faces;
    } icons[] = {
        {"camera", C3DDisplayMesh::CreateCameraIcon(std::numbers::pi / 4, 1.0), 67, 42},
        {"wide camera", C3DDisplayMesh::CreateCameraIcon(2.5, 0.3), 67, 42},
        {"directional", C3DDisplayMesh::CreateDirectionalLightIcon(), 70, 68},
        {"omni", C3DDisplayMesh::CreateOmniLightIcon(), 77, 84},
        {"spot", C3DDisplayMesh::CreateSpotLightIcon(std::numbers::pi / 6), 86, 87},
        {"wide spot", C3DDisplayMesh::CreateSpotLightIcon(2.5), 86, 87},
    };
    for (const auto& icon : icons)
    {
        SCOPED_TRACE(icon.name);
        ASSERT_TRUE(icon.mesh);
        EXPECT_EQ(icon.mesh->GetPointNbr(), icon.points);
        EXPECT_EQ(icon.mesh->GetFaceNbr(), icon.faces);
        EXPECT_EQ(icon.mesh->GetFaceList().GetPointBound(), unsigned(icon.points));
        EXPECT_EQ(icon.mesh->GetFaceList().GetNumberOfFaces(_FaceInvalid, true), 0u);
        EXPECT_TRUE(scenetest::IsClosedOutwardMesh(*icon.mesh));
        const C3DPointList& points = icon.mesh->GetPointList();
        for (int i = 0; i < points.GetSize(); ++i)
            ASSERT_TRUE(std::isfinite(points[i].m_X) && std::isfinite(points[i].m_Y) &&
                        std::isfinite(points[i].m_Z));
    }
    EXPECT_EQ(C3DDisplayMesh::kCameraPointNbr, 67);
    EXPECT_EQ(C3DDisplayMesh::kDirectionalPointNbr, 70);
    EXPECT_EQ(C3DDisplayMesh::kOmniPointNbr, 77);
    EXPECT_EQ(C3DDisplayMesh::kSpotPointNbr, 86);
}

TEST(DisplayMeshes, TheOpeningsFollowTheFieldOfViewAndTheOuterAngle)
{
    // The camera's opening at distance 1: height tan(fov / 2) × 100 / 50 in single precision,
    // width that height divided by the aspect ratio, corners at half of each.
    for (double aspect : {1.0, 2.0, 0.5})
    {
        auto mesh = C3DDisplayMesh::CreateCameraIcon(1.0, aspect);
        ASSERT_TRUE(mesh);
        float height = std::tan(1.0f / 2.0f) * 100.0f / 50.0f;
        float width = float(height / aspect);
        for (float sx : {-1.0f, 1.0f})
            for (float sy : {-1.0f, 1.0f})
                EXPECT_TRUE(HasPoint(*mesh, sx * width / 2, sy * height / 2, -1.0f))
                    << aspect << " " << sx << " " << sy;
    }
    // Bad parameters still give a finite icon of the same shape.
    auto fallback = C3DDisplayMesh::CreateCameraIcon(kNaN, -1.0);
    auto standard = C3DDisplayMesh::CreateCameraIcon(std::numbers::pi / 4, 1.0);
    ASSERT_TRUE(fallback && standard);
    float fx, fy, sx, sy;
    ExtentAt(*fallback, -1.0f, fx, fy);
    ExtentAt(*standard, -1.0f, sx, sy);
    EXPECT_EQ(fx, sx);
    EXPECT_EQ(fy, sy);
    EXPECT_TRUE(scenetest::IsClosedOutwardMesh(*C3DDisplayMesh::CreateCameraIcon(1e-9, 1e-300)));

    // The spot cone's base at distance 1 has radius tan(outer / 2).
    for (double outer : {0.3, std::numbers::pi / 6, 1.5})
    {
        auto spot = C3DDisplayMesh::CreateSpotLightIcon(outer);
        ASSERT_TRUE(spot);
        float rx, ry;
        ExtentAt(*spot, -1.0f, rx, ry);
        EXPECT_NEAR(std::max(rx, ry), std::tan(outer / 2), 1e-5) << outer;
    }
}

TEST(DisplayMeshes, CamerasAndLightsBuildTheirIconOnceAndOnDemand)
{
    C3DCamera camera;
    EXPECT_FALSE(camera.IsFinalObject());
    EXPECT_FALSE(camera.HasDisplayMesh());
    const C3DDisplayMesh* mesh = camera.GetDisplayMesh();
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->GetPointNbr(), 67);
    float x0, y0;
    ExtentAt(*mesh, -1.0f, x0, y0);
    // A parameter change does not rebuild the icon; releasing it does.
    ASSERT_TRUE(camera.SetFov(2.0));
    EXPECT_EQ(camera.GetDisplayMesh(), mesh);
    camera.ReleaseDisplayMesh();
    EXPECT_FALSE(camera.HasDisplayMesh());
    mesh = camera.GetDisplayMesh();
    ASSERT_NE(mesh, nullptr);
    float x1, y1;
    ExtentAt(*mesh, -1.0f, x1, y1);
    EXPECT_GT(y1, y0);

    const struct
    {
        int kind, points;
    } kinds[] = {{_LightDirectional, 70}, {_LightOmni, 77}, {_LightSpot, 86}};
    for (const auto& entry : kinds)
    {
        C3DLight light;
        EXPECT_FALSE(light.IsFinalObject());
        light.SetLightKind(entry.kind);
        const C3DDisplayMesh* icon = light.GetDisplayMesh();
        ASSERT_NE(icon, nullptr) << entry.kind;
        EXPECT_EQ(icon->GetPointNbr(), entry.points);
        light.SetLightKind(3);
        EXPECT_EQ(light.GetDisplayMesh(), icon); // kept until released
    }
    // A light of a kind without an icon builds nothing.
    C3DLight odd;
    odd.SetLightKind(3);
    EXPECT_EQ(odd.GetDisplayMesh(), nullptr);
    EXPECT_FALSE(odd.HasDisplayMesh());
    odd.SetLightKind(-1);
    EXPECT_EQ(odd.GetDisplayMesh(), nullptr);
}
