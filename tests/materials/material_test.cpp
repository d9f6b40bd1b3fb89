// Materials: defaults without keys, the preference smoothing angle, clamping setters, colours
// with their factors, animated parameters, the map slots, comparison, copies, channel
// renumbering, and the archive with the material counter.
#include "common/zan_test_helpers.h"

#include <3dzan/materials/material.h>
#include <3dzan/preferences.h>

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace
{
const float kPi = 3.14159265358979323846f;

// Sets the user's smoothing angle for the life of the object.
class CScopedSmoothAngle
{
public:
    explicit CScopedSmoothAngle(float angle)
        : m_Old(C3DPreferences::Get3DPreferences().GetSmoothAngle())
    {
        C3DPreferences::Get3DPreferences().SetSmoothAngle(angle);
    }
    ~CScopedSmoothAngle() { C3DPreferences::Get3DPreferences().SetSmoothAngle(m_Old); }

private:
    float m_Old;
};

C3DMaterial Textured()
{
    C3DMaterial material;
    material.SetName("Brick");
    material.SetDiffuseColor(0, CRGBColor(200, 100, 50, 255));
    material.SetTransparencyFactor(10, 0.25f);
    material.AddMaterialMap("brick.png", 3, _MapDiffuse, _ProjectionPlanar)
        ->SetTranslation(0, C3DTVector<float>(0.5f, 0, 0));
    material.AddMaterialMap("bump.png", 3, _MapBump, _ProjectionChannel);
    material.SetVertexColor(0, 12, 0.5f);
    material.SetFlag(_MaterialTwoSided, true);
    material.GetCustomData().SetString(ZanTag("NOTE"), "wall");
    return material;
}
} // namespace

TEST(Material, WithoutKeysItAnswersTheDefaultsAndThePreferenceAngle)
{
    C3DMaterial material;
    EXPECT_EQ(material.GetDiffuseColor(0), CRGBColor(192, 192, 192, 255));
    EXPECT_EQ(material.GetAmbientColor(7), CRGBColor(30, 30, 30, 255));
    EXPECT_EQ(material.GetSpecularColor(-3), CRGBColor(192, 192, 192, 255));
    EXPECT_EQ(material.GetTransparencyFactor(0), 0.0f);
    EXPECT_EQ(material.GetBumpFactor(0), 1.0f);
    float factor = 0;
    EXPECT_EQ(material.GetVertexColor(0, factor), kZanNone);
    EXPECT_EQ(factor, 1.0f);
    EXPECT_FALSE(material.IsTransparent(0));
    EXPECT_EQ(material.GetKeyNbr(), 0u);

    // The smoothing angle comes from the preferences, read when asked.
    CScopedSmoothAngle angle(0.25f);
    EXPECT_FLOAT_EQ(material.GetSmoothAngle(0), 0.25f);
    C3DPreferences::Get3DPreferences().SetSmoothAngle(0.5f);
    EXPECT_FLOAT_EQ(material.GetSmoothAngle(0), 0.5f);
    material.SetSmoothAngle(0, 1.0f);
    EXPECT_FLOAT_EQ(material.GetSmoothAngle(0), 1.0f);
    material.SetSmoothAngle(0, -1.0f);
    EXPECT_FLOAT_EQ(material.GetSmoothAngle(0), 0.5f);
}

TEST(Material, SettersClampAndRefuseNaN)
{
    C3DMaterial material;
    material.SetDiffuseFactor(0, 1.5f);
    EXPECT_EQ(material.GetDiffuseFactor(0), 1.0f);
    material.SetAmbientFactor(0, -2.0f);
    EXPECT_EQ(material.GetAmbientFactor(0), 0.0f);
    material.SetSpecularFactor(0, NAN);
    EXPECT_EQ(material.GetSpecularFactor(0), 1.0f);
    EXPECT_EQ(material.GetKeyNbr(C3DMaterial::kSpecularFactorKey), 0u);

    material.SetSmoothAngle(0, 4.0f); // more than 180 degrees
    EXPECT_EQ(material.GetSmoothAngle(0), kPi);
    material.SetSmoothAngle(0, -0.5f);
    EXPECT_EQ(material.GetSmoothAngle(0), 0.0f);
    material.SetSmoothAngle(0, NAN);
    EXPECT_EQ(material.GetSmoothAngle(0), 0.0f);

    material.SetVertexColor(0, 8, 3.0f);
    float factor = 0;
    EXPECT_EQ(material.GetVertexColor(0, factor), 8u);
    EXPECT_EQ(factor, 1.0f);
    // Setting at the same time replaces the key.
    material.SetDiffuseFactor(0, 0.5f);
    EXPECT_EQ(material.GetKeyNbr(C3DMaterial::kDiffuseFactorKey), 1u);
}

TEST(Material, ColoursWithFactorsAndTransparency)
{
    C3DMaterial material;
    material.SetDiffuseColor(0, CRGBColor(200, 101, 3, 255));
    material.SetDiffuseFactor(0, 0.5f);
    material.SetTransparencyFactor(0, 0.5f);
    EXPECT_EQ(material.GetDiffuseColor(0, true), CRGBColor(100, 50, 1, 127));
    EXPECT_EQ(material.GetDiffuseColor(0, false), CRGBColor(200, 101, 3, 255));
    EXPECT_TRUE(material.IsTransparent(0));
    float rgba[4];
    material.FloatGetDiffuseColor(0, rgba);
    EXPECT_FLOAT_EQ(rgba[0], 200 / 255.0f * 0.5f);
    EXPECT_FLOAT_EQ(rgba[3], 0.5f);

    material.SetAmbientColor(0, CRGBColor(100, 100, 100, 200));
    material.SetAmbientFactor(0, 0.3f);
    EXPECT_EQ(material.GetAmbientColor(0, true), CRGBColor(30, 30, 30, 200));
    material.FloatGetAmbientColor(0, rgba);
    EXPECT_FLOAT_EQ(rgba[1], 100 / 255.0f * 0.3f);
    EXPECT_FLOAT_EQ(rgba[3], 200 / 255.0f);

    // An alpha below 255 alone makes a material transparent.
    C3DMaterial glass;
    glass.SetDiffuseColor(0, CRGBColor(0, 0, 0, 254));
    EXPECT_TRUE(glass.IsTransparent(0));
}

TEST(Material, ParametersAreAnimatedByTheirKeys)
{
    C3DMaterial material;
    material.SetDiffuseColor(0, CRGBColor(0, 0, 0, 255));
    material.SetDiffuseColor(10, CRGBColor(100, 200, 50, 255));
    material.SetTransparencyFactor(0, 0.0f);
    material.SetTransparencyFactor(20, 1.0f);
    EXPECT_EQ(material.GetDiffuseColor(5), CRGBColor(50, 100, 25, 255));
    EXPECT_EQ(material.GetDiffuseColor(30), CRGBColor(100, 200, 50, 255));
    EXPECT_FLOAT_EQ(material.GetTransparencyFactor(5), 0.25f);
    EXPECT_EQ(material.GetTimeRange(C3DMaterial::kTransparencyFactorKey), CTimeRange(0, 20));
    // Setting a colour to the value it has at that time adds no key.
    material.SetDiffuseColor(5, CRGBColor(50, 100, 25, 255));
    EXPECT_EQ(material.GetKeyNbr(C3DMaterial::kDiffuseColorKey), 2u);
}

TEST(Material, MapSlotsComparisonAndCopies)
{
    C3DMaterial material;
    EXPECT_EQ(material.AddMaterialMap("", 1, _MapDiffuse, _ProjectionChannel), nullptr);
    EXPECT_EQ(material.AddMaterialMap("a.png", 1, MapType(6), _ProjectionChannel), nullptr);
    CMaterialMap* diffuse = material.AddMaterialMap("a.png", 1, _MapDiffuse, _ProjectionChannel);
    ASSERT_NE(diffuse, nullptr);
    EXPECT_EQ(material.AddMaterialMap("b.png", 2, _MapDiffuse, _ProjectionPlanar), diffuse);
    EXPECT_EQ(diffuse->GetFileName(), "a.png");
    EXPECT_EQ(material.GetDiffuseMaps(), diffuse);
    EXPECT_EQ(material.GetMaterialMap(_MapDiffuse), diffuse);
    EXPECT_EQ(material.GetMaterialMap(_MapAmbient), nullptr);
    EXPECT_EQ(material.GetMaterialMap(MapType(0)), nullptr);

    C3DMaterial source = Textured();
    C3DMaterial copy(source);
    EXPECT_NE(copy.GetMaterialID(), source.GetMaterialID());
    EXPECT_TRUE(copy == source);
    EXPECT_NE(copy.GetDiffuseMaps(), source.GetDiffuseMaps());
    EXPECT_EQ(copy.GetFlags(), unsigned(_MaterialTwoSided));
    EXPECT_EQ(copy.GetCustomData().GetString(ZanTag("NOTE")), "wall");

    // Only the name differs: same parameters, different materials.
    copy.SetName("Other");
    EXPECT_TRUE(copy.HasSameParameters(source));
    EXPECT_FALSE(copy == source);
    // A map, a key or the vertex-colour channel tells them apart.
    copy.GetBumpMaps()->SetAxis(_MapAxisZ);
    EXPECT_FALSE(copy.HasSameParameters(source));
    copy = source;
    EXPECT_TRUE(copy == source);
    copy.RemoveMaterialMap(_MapBump);
    EXPECT_FALSE(copy.HasSameParameters(source));
    copy = source;
    copy.SetVertexColor(0, 13, 0.5f);
    EXPECT_FALSE(copy.HasSameParameters(source));
    copy = source;
    copy.SetBumpFactor(3, 0.5f);
    EXPECT_FALSE(copy.HasSameParameters(source));

    // Assignment keeps the ID.
    const unsigned id = material.GetMaterialID();
    material = source;
    EXPECT_EQ(material.GetMaterialID(), id);
    EXPECT_TRUE(material == source);
}

TEST(Material, ChannelRenumberingReachesTheVertexColourAndEveryMap)
{
    C3DMaterial material = Textured();
    material.AddMaterialMap("spec.png", 4, _MapSpecular, _ProjectionChannel);
    const std::map<std::pair<unsigned, unsigned>, unsigned> renumber = {
        {{12, 4}, 112}, {{3, 1}, 103}, {{12, 1}, 999}};
    material.ChangeChannelID(
        [&](unsigned id, unsigned type, unsigned& newId)
        {
            auto it = renumber.find({id, type});
            if (it == renumber.end())
                return false;
            newId = it->second;
            return true;
        });
    float factor = 0;
    EXPECT_EQ(material.GetVertexColor(0, factor), 112u);
    EXPECT_EQ(material.GetDiffuseMaps()->GetChannelID(), 103u);
    EXPECT_EQ(material.GetBumpMaps()->GetChannelID(), 103u);
    EXPECT_EQ(material.GetSpecularMaps()->GetChannelID(), 4u); // no entry: kept
}

TEST(MaterialArchive, RoundTripsAndRaisesTheCounterPastTheLoadedID)
{
    C3DMaterial source = Textured();
    source.SetScratch(5);
    C3DMaterial loaded;
    zantest::RoundTrip(source, loaded);
    EXPECT_TRUE(loaded == source);
    EXPECT_EQ(loaded.GetMaterialID(), source.GetMaterialID());
    EXPECT_EQ(loaded.GetFlags(), source.GetFlags());
    EXPECT_TRUE(loaded.GetCustomData() == source.GetCustomData());
    EXPECT_EQ(loaded.GetDiffuseMaps()->GetProjection(), _ProjectionPlanar);
    EXPECT_EQ(source.GetScratch(), 0u); // cleared by the store

    // An ID at or above the counter moves the counter past it.
    const unsigned high = C3DMaterial::GetNextMaterialID() + 1000;
    C3DMaterial far;
    far.SetName("far");
    C3DMaterial probe;
    zantest::RoundTrip(far, probe);
    EXPECT_LT(far.GetMaterialID(), C3DMaterial::GetNextMaterialID());
    // Patch the stored ID: it sits just before the custom data, empty here (its count).
    auto farBytes = zantest::StoreToBytes([&](CXArchive& ar) { far.Serialize(ar); });
    const size_t at = farBytes.size() - 4 - 4;
    for (int i = 0; i < 4; ++i)
        farBytes[at + size_t(i)] = uint8_t(high >> (8 * i));
    zantest::LoadFromBytes(farBytes, [&](CXArchive& ar) { probe.Serialize(ar); });
    EXPECT_EQ(probe.GetMaterialID(), high);
    EXPECT_EQ(C3DMaterial::GetNextMaterialID(), high + 1);
    EXPECT_EQ(C3DMaterial().GetMaterialID(), high + 1);
}

TEST(MaterialArchive, MalformedMaterialsAreRefusedAndLeaveTheMaterialAsItWas)
{
    const C3DMaterial source = Textured();
    auto bytes = zantest::StoreToBytes([&](CXArchive& ar)
                                       { const_cast<C3DMaterial&>(source).Serialize(ar); });
    C3DMaterial target;
    target.SetName("target");
    target.SetAmbientFactor(0, 0.5f);
    target.AddMaterialMap("t.png", 1, _MapAmbient, _ProjectionChannel);
    const C3DMaterial before(target);
    const unsigned id = target.GetMaterialID();
    zantest::ExpectTruncationsFail(bytes, target, [&] { return target == before && target.GetMaterialID() == id; });
}
