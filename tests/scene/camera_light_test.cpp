// Cameras and lights: defaults, refused values, the view matrices, and the display meshes
// (counts, closed outward pieces, the parts that follow the parameters, built on demand).
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
constexpr double kPi = std::numbers::pi;

// Largest |x| and |y| among the points at depth z.
std::pair<float, float> ExtentAt(const C3DDisplayMesh& mesh, float z)
{
    float maxX = 0, maxY = 0;
    const C3DPointList& points = mesh.GetPointList();
    for (int i = 0; i < points.GetSize(); ++i)
        if (points[i].m_Z == z)
        {
            maxX = std::max(maxX, std::fabs(points[i].m_X));
            maxY = std::max(maxY, std::fabs(points[i].m_Y));
        }
    return {maxX, maxY};
}
} // namespace

TEST(CameraAndLight, DefaultsWhenAbsentAndRefusedValuesChangeNothing)
{
    C3DCamera camera;
    EXPECT_TRUE(camera.IsFlagSet(_ObjectNoShading));
    EXPECT_DOUBLE_EQ(camera.GetFov(), kPi / 4);
    EXPECT_EQ(camera.GetZoom(), 1.0);
    EXPECT_EQ(camera.GetAperture(), 8.0);
    EXPECT_EQ(camera.GetNearClip(), -1.0);
    EXPECT_EQ(camera.GetFarClip(), -1.0);
    EXPECT_EQ(camera.GetProjection(), _ProjectionPerspective);
    EXPECT_FALSE(camera.HasTarget());
    EXPECT_EQ(camera.GetTarget(), -1);

    camera.SetTarget(0);
    EXPECT_TRUE(camera.HasTarget());
    ASSERT_TRUE(camera.SetNearFarClip(1.0, 100.0));
    const CCustomData cameraBefore = camera.GetCustomData();
    EXPECT_TRUE(zantest::AllRefused({
        camera.SetFov(kNaN),
        camera.SetFov(0.0),
        camera.SetFov(kPi),
        camera.SetAspectRatio(0.0),
        camera.SetAspectRatio(kInf),
        camera.SetZoom(-1.0),
        camera.SetAperture(kNaN),
        camera.SetFocusDistance(-0.1),
        camera.SetProjection(2),
        camera.SetNearFarClip(5.0, 2.0),
        camera.SetNearClip(200.0),
        camera.SetFarClip(kInf),
    }));
    EXPECT_TRUE(camera.GetCustomData() == cameraBefore);
    EXPECT_TRUE(camera.SetNearClip(-1.0)); // negative: the viewer chooses, any far goes
    EXPECT_TRUE(camera.SetFarClip(0.5));
    camera.SetTarget(-1);
    EXPECT_FALSE(camera.HasTarget());
    // Values filled by others under the ids read back; other kinds and NaN read as defaults.
    camera.GetCustomData().SetDouble(0x6361666F, 0.7);
    camera.GetCustomData().SetString(C3DCamera::kZoomID, "large");
    camera.GetCustomData().SetDouble(C3DCamera::kApertureID, kNaN);
    EXPECT_EQ(camera.GetFov(), 0.7);
    EXPECT_EQ(camera.GetZoom(), 1.0);
    EXPECT_EQ(camera.GetAperture(), 8.0);

    C3DLight light;
    EXPECT_TRUE(light.IsFlagSet(_ObjectNoShading));
    EXPECT_EQ(light.GetColor(), CRGBColor());
    EXPECT_EQ(light.GetLightKind(), _LightDirectional);
    EXPECT_DOUBLE_EQ(light.GetOuterAngle(), kPi / 6);
    EXPECT_EQ(light.GetIntensity(), 1.0);
    light.SetColor(CRGBColor(255, 128, 1, 200));
    EXPECT_EQ(light.GetColor(), CRGBColor(255, 128, 1, 200));
    ASSERT_TRUE(light.SetInnerRadius(2.0) && light.SetOuterRadius(20.0));
    const CCustomData lightBefore = light.GetCustomData();
    EXPECT_TRUE(zantest::AllRefused({
        light.SetInnerAngle(-0.1),
        light.SetOuterAngle(4.0),
        light.SetOuterAngle(kNaN),
        light.SetInnerRadius(-1.0),
        light.SetOuterRadius(kInf),
        light.SetIntensity(kNaN),
    }));
    EXPECT_TRUE(light.GetCustomData() == lightBefore);
    light.ClearAttenuation();
    EXPECT_FALSE(light.GetCustomData().HasValue(C3DLight::kInnerRadiusID));
    EXPECT_FALSE(light.GetCustomData().HasValue(C3DLight::kOuterRadiusID));
    uint8_t three[3] = {1, 2, 3}; // a colour block of the wrong size
    light.GetCustomData().SetBytes(C3DLight::kColorID, three, 3);
    EXPECT_EQ(light.GetColor(), CRGBColor());
}

TEST(CameraAndLight, LookAtMapsTheEyeToTheOriginAndPositionMatrixUndoesIt)
{
    const C3DTPoint<float> eye(3, 4, 10), target(1, 2, -2);
    const C3DTVector<float> up(0, 1, 0);
    C4x4TMatrix<float> view, place;
    ASSERT_TRUE(C3DCamera::LookAt(view, eye, target, up));
    ASSERT_TRUE(C3DCamera::PositionMatrix(place, eye, target, up));
    auto seen = view.TransformPoint(eye);
    EXPECT_NEAR(std::fabs(seen.m_X) + std::fabs(seen.m_Y) + std::fabs(seen.m_Z), 0, 1e-5);
    auto ahead = view.TransformPoint(target); // straight ahead, down -Z
    EXPECT_NEAR(ahead.m_X, 0, 1e-5);
    EXPECT_NEAR(ahead.m_Y, 0, 1e-5);
    EXPECT_NEAR(ahead.m_Z, -(eye - target).GetLength(), 1e-4);
    EXPECT_GT(view.TransformPoint(C3DTPoint<float>(3, 5, 10)).m_Y, 0.5f); // up stays up
    EXPECT_TRUE((place * view).IsIdentity(1e-5));

    // Up along the line of sight: a singular view that cannot be placed; NaN is refused.
    C4x4TMatrix<float> untouched;
    untouched[0][3] = 7;
    C4x4TMatrix<float> probe = untouched;
    EXPECT_FALSE(C3DCamera::PositionMatrix(probe, eye, C3DTPoint<float>(3, 0, 10), up));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(C3DCamera::LookAt(probe, C3DTPoint<float>(nan, 0, 0), target, up));
    EXPECT_EQ(probe, untouched);
}

TEST(CameraAndLight, EveryIconHasItsCountsAndClosedOutwardPieces)
{
    const struct
    {
        const char* name;
        std::unique_ptr<C3DDisplayMesh> mesh;
        int points, faces;
    } icons[] = {
        {"camera", C3DDisplayMesh::CreateCameraIcon(kPi / 4, 1.0), 67, 42},
        {"wide camera", C3DDisplayMesh::CreateCameraIcon(2.5, 0.3), 67, 42},
        {"bad camera", C3DDisplayMesh::CreateCameraIcon(kNaN, 1e-300), 67, 42},
        {"directional", C3DDisplayMesh::CreateDirectionalLightIcon(), 70, 68},
        {"omni", C3DDisplayMesh::CreateOmniLightIcon(), 77, 84},
        {"spot", C3DDisplayMesh::CreateSpotLightIcon(kPi / 6), 86, 87},
        {"bad spot", C3DDisplayMesh::CreateSpotLightIcon(kInf), 86, 87},
    };
    for (const auto& icon : icons)
    {
        SCOPED_TRACE(icon.name);
        ASSERT_TRUE(icon.mesh);
        EXPECT_EQ(icon.mesh->GetPointNbr(), icon.points);
        EXPECT_EQ(icon.mesh->GetFaceNbr(), icon.faces);
        EXPECT_EQ(icon.mesh->GetFaceList().GetNumberOfFaces(_FaceInvalid, true), 0u);
        EXPECT_TRUE(scenetest::IsClosedOutwardMesh(*icon.mesh));
    }

    // The camera's opening at distance 1: height tan(fov / 2) × 100 / 50 in single precision,
    // width that height divided by the aspect ratio, corners at half of each.
    for (double aspect : {1.0, 2.0, 0.5})
    {
        auto mesh = C3DDisplayMesh::CreateCameraIcon(1.0, aspect);
        float height = std::tan(1.0f / 2.0f) * 100.0f / 50.0f;
        int corners = 0;
        const C3DPointList& points = mesh->GetPointList();
        for (int i = 0; i < points.GetSize(); ++i)
            corners += points[i].m_Z == -1.0f &&
                       std::fabs(points[i].m_X) == float(height / aspect) / 2 &&
                       std::fabs(points[i].m_Y) == height / 2;
        EXPECT_EQ(corners, 4) << aspect;
    }
    // The spot cone's base at distance 1 has radius tan(outer / 2).
    for (double outer : {0.3, 1.5})
    {
        auto [rx, ry] = ExtentAt(*C3DDisplayMesh::CreateSpotLightIcon(outer), -1.0f);
        EXPECT_NEAR(std::max(rx, ry), std::tan(outer / 2), 1e-5) << outer;
    }
}

TEST(CameraAndLight, IconsAreBuiltOnceOnDemandForTheKind)
{
    C3DCamera camera;
    EXPECT_FALSE(camera.IsFinalObject());
    EXPECT_FALSE(camera.HasDisplayMesh());
    const C3DDisplayMesh* mesh = camera.GetDisplayMesh();
    ASSERT_NE(mesh, nullptr);
    const float narrow = ExtentAt(*mesh, -1.0f).second;
    ASSERT_TRUE(camera.SetFov(2.0));
    EXPECT_EQ(camera.GetDisplayMesh(), mesh); // a parameter change does not rebuild it
    camera.ReleaseDisplayMesh();
    ASSERT_NE(camera.GetDisplayMesh(), nullptr);
    EXPECT_GT(ExtentAt(*camera.GetDisplayMesh(), -1.0f).second, narrow);

    const int pointsByKind[] = {70, 77, 86};
    for (int kind : {_LightDirectional, _LightOmni, _LightSpot})
    {
        C3DLight light;
        EXPECT_FALSE(light.IsFinalObject());
        light.SetLightKind(kind);
        const C3DDisplayMesh* icon = light.GetDisplayMesh();
        ASSERT_NE(icon, nullptr) << kind;
        EXPECT_EQ(icon->GetPointNbr(), pointsByKind[kind]);
        light.SetLightKind(3);
        EXPECT_EQ(light.GetDisplayMesh(), icon); // kept until released
    }
    C3DLight odd; // a kind without an icon builds nothing
    odd.SetLightKind(3);
    EXPECT_EQ(odd.GetDisplayMesh(), nullptr);
    EXPECT_FALSE(odd.HasDisplayMesh());
}
