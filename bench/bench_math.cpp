// Animation math throughput: decomposing and recomposing matrix keys, spherical interpolation,
// and the matrix of a quaternion, over a pool of 1024 seeded random inputs so that the branch
// predictor does not learn one case. Items per second count one operation per input.
//
// Decompose runs on three kinds of matrices: rotations with scale (the common matrix key,
// where the Newton iteration stops after two or three steps), general affine matrices with
// shear, and flattened ones (a zero scale, the singular path).
#include <3dzan/animation.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace
{
constexpr int kPool = 1024;

CQuaternion RandomRotation(std::mt19937& engine)
{
    std::normal_distribution<float> n;
    CQuaternion q(n(engine), n(engine), n(engine), n(engine));
    if (!q.Normalize())
        q = CQuaternion();
    return q;
}

enum EMatrixKind
{
    kScaledRotation,
    kSheared,
    kFlattened
};

std::vector<C4x4TMatrix<float>> MakeMatrices(EMatrixKind kind)
{
    std::mt19937 engine(7);
    std::uniform_real_distribution<float> scale(0.2f, 5.0f), any(-3.0f, 3.0f);
    std::vector<C4x4TMatrix<float>> pool(kPool);
    for (C4x4TMatrix<float>& m : pool)
    {
        if (kind == kSheared)
        {
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 4; ++j)
                    m[i][j] = any(engine);
            continue;
        }
        m = RandomRotation(engine).GetMatrix();
        const float s[3] = {scale(engine), kind == kFlattened ? 0.0f : scale(engine),
                            scale(engine)};
        for (int i = 0; i < 3; ++i)
        {
            for (int j = 0; j < 3; ++j)
                m[i][j] *= s[j];
            m[i][3] = any(engine);
        }
    }
    return pool;
}

void BM_Decompose(benchmark::State& state)
{
    const std::vector<C4x4TMatrix<float>> pool = MakeMatrices(EMatrixKind(state.range(0)));
    _MatrixDecomposition parts;
    size_t i = 0;
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(Decompose(pool[i], parts));
        benchmark::ClobberMemory();
        i = (i + 1) % kPool;
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_Decompose)->Arg(kScaledRotation)->Arg(kSheared)->Arg(kFlattened);

void BM_Recompose(benchmark::State& state)
{
    const std::vector<C4x4TMatrix<float>> matrices = MakeMatrices(kSheared);
    std::vector<_MatrixDecomposition> pool(kPool);
    for (int k = 0; k < kPool; ++k)
        Decompose(matrices[size_t(k)], pool[size_t(k)]);
    size_t i = 0;
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(Recompose(pool[i]));
        i = (i + 1) % kPool;
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_Recompose);

void BM_Slerp(benchmark::State& state)
{
    std::mt19937 engine(8);
    std::vector<CQuaternion> pool(kPool + 1);
    for (CQuaternion& q : pool)
        q = RandomRotation(engine);
    size_t i = 0;
    float t = 0.0f;
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(CQuaternion::Slerp(pool[i], pool[i + 1], t));
        i = (i + 1) % kPool;
        t = t < 1.0f ? t + 0.01f : 0.0f;
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_Slerp);

void BM_QuaternionMatrix(benchmark::State& state)
{
    std::mt19937 engine(9);
    std::vector<CQuaternion> pool(kPool);
    for (CQuaternion& q : pool)
        q = RandomRotation(engine);
    size_t i = 0;
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(pool[i].GetMatrix());
        i = (i + 1) % kPool;
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_QuaternionMatrix);
} // namespace
