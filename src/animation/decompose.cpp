// Decomposition of an affine matrix into translation, rotation, stretch and mirror.
//
// The method is Shoemake and Duff's ("Matrix Animation and Polar Decomposition", Graphics
// Interface 1992): the linear part A of M = T·A is split by polar decomposition into A = Q·S,
// Q orthogonal and S symmetric positive semi-definite; the sign f of det Q is taken out so
// that f·Q is a proper rotation R; and S is diagonalised as S = U·K·Uᵀ, K the per-axis scale
// and U the stretch rotation, the orientation of the scale axes. Then M = T·f·R·U·K·Uᵀ, and
// every factor interpolates sensibly: T and K linearly, R and U along great arcs.
//
// - The polar factor comes from Higham's Newton iteration Q ← (γQ + Q⁻ᵀ/γ) / 2, with the
//   (1, ∞)-norm scaling γ that makes it converge in a handful of steps whatever the matrix's
//   conditioning; the scaling is dropped near convergence so the last steps stay quadratic.
// - A rank-deficient A (a zero scale, a projection) has no inverse to iterate with. Its
//   singular vectors come from the eigenvectors of AᵀA instead, and the left ones that are
//   missing are completed by cross products into a proper rotation, which still gives A = Q·S.
// - S is diagonalised by cyclic Jacobi rotations. Of the 24 equivalent ways to order and sign
//   its eigenvectors, the one closest to the identity is kept ("snuggling"), so a matrix
//   without shear gets U = I and its scales in axis order.
#include "rotation3.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace
{
using zan_animation::Mat3;

// Relative determinant |det A| / ‖A‖³ (Frobenius) below which A is rank-deficient.
const double kRankLimit = 1e-12;
// A singular value below this fraction of the largest one counts as zero.
const double kSingularLimit = 1e-8;
// Newton steps and Jacobi sweeps are bounded; both converge long before in double.
const int kMaxPolarSteps = 60;
const int kMaxJacobiSweeps = 50;

double Norm1(const Mat3& a) // largest column sum
{
    double best = 0.0;
    for (int j = 0; j < 3; ++j)
        best = std::max(best, std::fabs(a[0][j]) + std::fabs(a[1][j]) + std::fabs(a[2][j]));
    return best;
}

double NormInf(const Mat3& a) // largest row sum
{
    double best = 0.0;
    for (int i = 0; i < 3; ++i)
        best = std::max(best, std::fabs(a[i][0]) + std::fabs(a[i][1]) + std::fabs(a[i][2]));
    return best;
}

double NormFrobenius(const Mat3& a)
{
    double sum = 0.0;
    for (const auto& row : a)
        for (double v : row)
            sum += v * v;
    return std::sqrt(sum);
}

std::array<double, 3> Cross(const std::array<double, 3>& a, const std::array<double, 3>& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double Dot3(const std::array<double, 3>& a, const std::array<double, 3>& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

bool Normalize3(std::array<double, 3>& v)
{
    const double length = std::sqrt(Dot3(v, v));
    if (!(length > 0.0))
        return false;
    for (double& c : v)
        c /= length;
    return true;
}

// Eigen-decomposition of a symmetric s: s = v·diag(k)·vᵀ, v orthogonal (columns are the
// eigenvectors). Each step zeroes one off-diagonal pair with a plane rotation J, s ← Jᵀ·s·J.
void Jacobi(Mat3 s, Mat3& v, std::array<double, 3>& k)
{
    v = zan_animation::Identity3();
    static const int kPairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    for (int sweep = 0; sweep < kMaxJacobiSweeps; ++sweep)
    {
        const double off = s[0][1] * s[0][1] + s[0][2] * s[0][2] + s[1][2] * s[1][2];
        const double diag = s[0][0] * s[0][0] + s[1][1] * s[1][1] + s[2][2] * s[2][2];
        if (off <= 1e-32 * diag || off == 0.0)
            break;
        for (const auto& pair : kPairs)
        {
            const int p = pair[0], q = pair[1];
            if (s[p][q] == 0.0)
                continue;
            // tan of the angle that zeroes s[p][q]: the smaller root of t² + 2θt − 1 = 0.
            const double theta = (s[q][q] - s[p][p]) / (2.0 * s[p][q]);
            const double t =
                (theta >= 0.0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
            const double c = 1.0 / std::sqrt(t * t + 1.0);
            const double sn = t * c;
            Mat3 j = zan_animation::Identity3();
            j[p][p] = c;
            j[q][q] = c;
            j[p][q] = sn;
            j[q][p] = -sn;
            s = zan_animation::Multiply3(zan_animation::Transposed3(j),
                                         zan_animation::Multiply3(s, j));
            s[p][q] = s[q][p] = 0.0;
            v = zan_animation::Multiply3(v, j);
        }
    }
    k = {s[0][0], s[1][1], s[2][2]};
}

// Among the signed column permutations of the orthogonal v that are proper rotations, the
// one with the largest trace (the smallest angle); k follows its columns.
void Snuggle(Mat3& v, std::array<double, 3>& k)
{
    static const int kPermutations[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2},
                                            {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    const bool vProper = zan_animation::Determinant3(v) > 0.0;
    double bestTrace = -10.0;
    Mat3 best = v;
    std::array<double, 3> bestK = k;
    for (int p = 0; p < 6; ++p)
    {
        const int* perm = kPermutations[p];
        // Column j of the candidate is sign[j]·v[:, perm[j]]; its trace is maximised by the
        // sign of each diagonal element, and a determinant of −1 is fixed by flipping the
        // smallest one.
        const bool oddPermutation = p == 1 || p == 2 || p == 5;
        double sign[3];
        int flips = 0, smallest = 0;
        for (int j = 0; j < 3; ++j)
        {
            sign[j] = v[j][perm[j]] >= 0.0 ? 1.0 : -1.0;
            flips += sign[j] < 0.0;
            if (std::fabs(v[j][perm[j]]) < std::fabs(v[smallest][perm[smallest]]))
                smallest = j;
        }
        const bool proper = vProper != oddPermutation ? (flips % 2 == 0) : (flips % 2 == 1);
        if (!proper)
            sign[smallest] = -sign[smallest];
        double trace = 0.0;
        for (int j = 0; j < 3; ++j)
            trace += sign[j] * v[j][perm[j]];
        if (trace > bestTrace)
        {
            bestTrace = trace;
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    best[i][j] = sign[j] * v[i][perm[j]];
            bestK = {k[perm[0]], k[perm[1]], k[perm[2]]};
        }
    }
    v = best;
    k = bestK;
}

// Newton iteration for the orthogonal polar factor of a well-conditioned a.
bool PolarNewton(const Mat3& a, Mat3& q)
{
    q = a;
    bool scaling = true;
    for (int step = 0; step < kMaxPolarSteps; ++step)
    {
        // Q⁻ᵀ is the cofactor matrix over the determinant; its rows are cross products.
        Mat3 cof{};
        cof[0] = Cross(q[1], q[2]);
        cof[1] = Cross(q[2], q[0]);
        cof[2] = Cross(q[0], q[1]);
        const double det = Dot3(q[0], cof[0]);
        if (!(std::fabs(det) > 0.0) || !std::isfinite(det))
            return false;
        double gamma = 1.0;
        if (scaling)
        {
            // ‖Q⁻¹‖₁‖Q⁻¹‖∞ equals ‖Q⁻ᵀ‖∞‖Q⁻ᵀ‖₁, so the cofactors serve as they are.
            const double inverseNorms = Norm1(cof) * NormInf(cof) / (det * det);
            gamma = std::sqrt(std::sqrt(inverseNorms / (Norm1(q) * NormInf(q))));
        }
        Mat3 next{};
        double change = 0.0;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
            {
                next[i][j] = 0.5 * (gamma * q[i][j] + cof[i][j] / (gamma * det));
                change = std::max(change, std::fabs(next[i][j] - q[i][j]));
            }
        q = next;
        if (change < 1e-2)
            scaling = false;
        // The error after a quadratic step is about the square of the change before it.
        if (change < 1e-9)
            return true;
    }
    return true;
}

// Polar factor of a rank-deficient a through its singular vectors: a·vᵢ = σᵢuᵢ.
void PolarRankDeficient(const Mat3& a, Mat3& q)
{
    Mat3 v{};
    std::array<double, 3> lambda{};
    Jacobi(zan_animation::Multiply3(zan_animation::Transposed3(a), a), v, lambda);
    int order[3] = {0, 1, 2};
    std::sort(order, order + 3, [&](int i, int j) { return lambda[i] > lambda[j]; });
    const double sigmaMax = std::sqrt(std::max(lambda[order[0]], 0.0));
    std::array<std::array<double, 3>, 3> u{}, vs{};
    int rank = 0;
    for (int n = 0; n < 3; ++n)
    {
        const int i = order[n];
        vs[n] = {v[0][i], v[1][i], v[2][i]};
        const double sigma = std::sqrt(std::max(lambda[i], 0.0));
        if (rank == n && sigma > kSingularLimit * sigmaMax && sigma > 0.0)
        {
            std::array<double, 3> av{};
            for (int r = 0; r < 3; ++r)
                av[r] = Dot3(a[r], vs[n]);
            for (int m = 0; m < n; ++m) // re-orthogonalise against the larger ones
            {
                const double d = Dot3(av, u[m]);
                for (int r = 0; r < 3; ++r)
                    av[r] -= d * u[m][r];
            }
            if (Normalize3(av))
            {
                u[n] = av;
                ++rank;
            }
        }
    }
    if (rank == 0)
    {
        q = zan_animation::Identity3();
        return;
    }
    if (rank == 1)
    {
        // Any unit vector orthogonal to u0: cross it with the axis it leans on least.
        int axis = 0;
        for (int r = 1; r < 3; ++r)
            if (std::fabs(u[0][r]) < std::fabs(u[0][axis]))
                axis = r;
        std::array<double, 3> e{};
        e[axis] = 1.0;
        u[1] = Cross(u[0], e);
        Normalize3(u[1]);
    }
    if (rank < 3)
        u[2] = Cross(u[0], u[1]);
    // q = Σ uₙ·vₙᵀ. A completed u2 is free, so its sign makes q a proper rotation.
    auto build = [&]()
    {
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                q[i][j] = u[0][i] * vs[0][j] + u[1][i] * vs[1][j] + u[2][i] * vs[2][j];
    };
    build();
    if (rank < 3 && zan_animation::Determinant3(q) < 0.0)
    {
        for (double& c : u[2])
            c = -c;
        build();
    }
}
} // namespace

namespace zan_animation
{
bool PolarDecompose(const Mat3& a, Mat3& q, Mat3& s)
{
    for (const auto& row : a)
        for (double value : row)
            if (!std::isfinite(value))
            {
                q = s = Identity3();
                return false;
            }
    const double norm = NormFrobenius(a);
    if (norm == 0.0)
    {
        q = Identity3();
        s = Mat3{};
        return true;
    }
    if (!(std::fabs(Determinant3(a)) > kRankLimit * norm * norm * norm) || !PolarNewton(a, q))
        PolarRankDeficient(a, q);
    // S = Qᵀ·A, made exactly symmetric; Q·S then reproduces A to rounding.
    const Mat3 qta = Multiply3(Transposed3(q), a);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            s[i][j] = 0.5 * (qta[i][j] + qta[j][i]);
    return true;
}
} // namespace zan_animation

bool Decompose(const C4x4TMatrix<float>& m, _MatrixDecomposition& parts)
{
    using namespace zan_animation;
    Mat3 a{};
    for (int i = 0; i < 3; ++i)
    {
        for (int j = 0; j < 3; ++j)
            a[i][j] = m[i][j];
        if (!std::isfinite(m[i][3]))
        {
            parts = _MatrixDecomposition();
            return false;
        }
    }
    Mat3 q{}, s{};
    if (!PolarDecompose(a, q, s))
    {
        parts = _MatrixDecomposition();
        return false;
    }
    float sign = 1.0f;
    if (Determinant3(q) < 0.0)
    {
        sign = -1.0f;
        for (auto& row : q)
            for (double& v : row)
                v = -v;
    }
    Mat3 u{};
    std::array<double, 3> k{};
    Jacobi(s, u, k);
    if (Determinant3(u) < 0.0) // eigenvectors are defined up to sign: make u a rotation
        for (auto& row : u)
            row[2] = -row[2];
    Snuggle(u, k);

    parts.m_Translation = C3DTVector<float>(m[0][3], m[1][3], m[2][3]);
    parts.m_Scale = C3DTVector<float>(float(k[0]), float(k[1]), float(k[2]));
    parts.m_Rotation = RotationToQuaternion(q);
    parts.m_StretchRotation = RotationToQuaternion(u);
    parts.m_Sign = sign;
    return true;
}

C4x4TMatrix<float> Recompose(const _MatrixDecomposition& parts)
{
    using namespace zan_animation;
    const double t[3] = {parts.m_Translation.m_X, parts.m_Translation.m_Y, parts.m_Translation.m_Z};
    const double k[3] = {parts.m_Scale.m_X, parts.m_Scale.m_Y, parts.m_Scale.m_Z};
    for (int i = 0; i < 3; ++i)
        if (!std::isfinite(t[i]) || !std::isfinite(k[i]))
            return C4x4TMatrix<float>();
    Mat3 r{}, u{};
    QuaternionToRotation(parts.m_Rotation, r);
    QuaternionToRotation(parts.m_StretchRotation, u);
    // S = U·K·Uᵀ, then A = f·R·S.
    Mat3 s{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            s[i][j] =
                u[i][0] * k[0] * u[j][0] + u[i][1] * k[1] * u[j][1] + u[i][2] * k[2] * u[j][2];
    const double f = parts.m_Sign < 0.0f ? -1.0 : 1.0;
    const Mat3 a = Multiply3(r, s);
    C4x4TMatrix<float> m;
    for (int i = 0; i < 3; ++i)
    {
        for (int j = 0; j < 3; ++j)
            m[i][j] = float(f * a[i][j]);
        m[i][3] = float(t[i]);
    }
    return m;
}
