// The serializable classes the library declares when it is loaded: an archive can recreate an
// object only from a declared class name, so a class missing here (or declared under another
// name) makes every archive that holds it unreadable.
#include <3dzan/foundation/xobject.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(RuntimeClasses, EverySerializableClassIsDeclaredAtLoadUnderItsName)
{
    const char* const expected[] = {"C2DPointList",
                                    "C2DPointMethods",
                                    "C3DBaseObject",
                                    "C3DCamera",
                                    "C3DCurve",
                                    "C3DDummy",
                                    "CBackFaceMaterialMethods",
                                    "CMaxFaceMethods2",
                                    "CMaxFaceMethods",
                                    "COriginalIndexMethods",
                                    "C3DFaceList",
                                    "C3DFacePropertyMethods",
                                    "C3DGeomObject",
                                    "C3DGroup",
                                    "C3DLight",
                                    "C3DMaterial",
                                    "CMaterials",
                                    "C3DObject",
                                    "C3DPatch",
                                    "C3DPointList",
                                    "C3DPointMethods",
                                    "C3DSceneNode",
                                    "C3DVectorList",
                                    "C3DVectorMethods",
                                    "CFaceNormalChannel",
                                    "CFacePropertyMethods",
                                    "CNormalFaceList",
                                    "CPointNormalChannel",
                                    "CSpecNormalChannel",
                                    "CUVWChannel",
                                    "CUVWFaceList",
                                    "CUVWPointList",
                                    "CUVWPointMethods",
                                    "CVCChannel",
                                    "CVCFaceList",
                                    "CVCPointList",
                                    "CVCPointMethods",
                                    "CWeightChannel",
                                    "CWeightFaceList",
                                    "CWeightPointList",
                                    "CWeightPointMethods"};
    ASSERT_EQ(std::size(expected), 41u);

    std::set<std::string> declared;
    for (const CXRuntimeClass* record : CXRuntimeClass::GetDeclaredClasses())
        declared.insert(record->m_ClassName);
    for (const char* name : expected)
    {
        SCOPED_TRACE(name);
        EXPECT_TRUE(declared.count(name));
        const CXRuntimeClass* record = CXRuntimeClass::FromName(name);
        ASSERT_NE(record, nullptr);
        EXPECT_STREQ(record->m_ClassName, name);
        // Each record reaches CXObject through its base records.
        EXPECT_TRUE(record->IsDerivedFrom(ZAN_RUNTIME_CLASS(CXObject)));
    }
}
