// Reading glTF 2.0: our reader against Assimp's importer (no post-processing step), on a
// large sphere written by our writer (.gltf with its .bin, and .glb) and on the files named on
// the command line. Both sides map or read the file themselves inside the timed part.
#include "compare_timing.h"

#include <gltf.h>
#include <pluginfile.h>

#include <3dzan/processing/primitives.h>
#include <3dzan/scene/scene.h>
#include <3dzan/scene/scenenode.h>

#include <assimp/cimport.h>
#include <assimp/scene.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{
void Compare(const std::string& path)
{
    int ourFaces = -1;
    const double ours = zancompare::BestOf(
        5, [] {},
        [&]
        {
            zanplugin::CMappedFile file;
            if (!file.Open(path.c_str()))
                return;
            zangltf::CGltfSource source;
            source.m_Data = file.GetView();
            source.m_Folder = path.substr(0, path.rfind('/') + 1);
            zangltf::CGltfError error;
            if (C3DScene* scene = zangltf::ReadGltf(source, error))
            {
                ourFaces = scene->GetFaceNbr();
                scene->Delete();
            }
        });
    long theirFaces = -1;
    const double theirs = zancompare::BestOf(
        5, [] {},
        [&]
        {
            if (const aiScene* scene = aiImportFile(path.c_str(), 0))
            {
                theirFaces = 0;
                for (unsigned m = 0; m < scene->mNumMeshes; ++m)
                    theirFaces += scene->mMeshes[m]->mNumFaces;
                aiReleaseImport(scene);
            }
        });
    std::printf("%-40s ours %8.2f ms (%d faces in the scene)   assimp %8.2f ms (%ld faces in "
                "its meshes)\n",
                path.substr(path.rfind('/') + 1).c_str(), ours * 1e3, ourFaces, theirs * 1e3,
                theirFaces);
}
} // namespace

int main(int argc, char** argv)
{
    // A sphere of 1000 x 1000 segments with texture coordinates: about 2 million triangles.
    C3DScene* scene = C3DScene::Create();
    scene->AddNode(nullptr, CreateSphere(C3DTPoint<float>(0, 0, 0), 1, 1000, 1000, true,
                                         scene->CreateNewMaterial()->GetMaterialID(), kZanNone));
    std::vector<std::string> files;
    for (const char* name : {"/tmp/zan_compare_sphere.gltf", "/tmp/zan_compare_sphere.glb"})
    {
        zangltf::CGltfError error;
        if (zangltf::WriteGltf(scene, name, error))
            files.push_back(name);
        else
            std::printf("cannot write %s: %s\n", name, error.m_Message.c_str());
    }
    scene->Delete();
    for (int i = 1; i < argc; ++i)
        files.push_back(argv[i]);
    for (const std::string& file : files)
        Compare(file);
    return 0;
}
