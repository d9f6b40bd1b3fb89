// 4 x 4 transform matrices and the axis swap codes.
//
// The inverse is the adjugate over the determinant, both expanded by complementary 2 x 2
// minors of the top and bottom row pairs (the Laplace expansion along two rows): twelve
// minors give all sixteen cofactors, in double whatever T is. Singularity is judged against
// Hadamard's bound |det| <= product of the row lengths, so the test does not depend on the
// matrix's overall scale.
//
// An axis swap is a change of basis by a signed permutation X = D·P (P exchanges two axes, D
// negates one). AdjustMatrix conjugates a transform by it; SwapMatrix re-expresses the columns
// only. Both are done by moving and negating elements rather than by multiplying, so they are
// exact and never turn a zero into a negative zero.
#include <3dzan/animation/math.h>
#include <3dzan/foundation/xarchive.h>

#include <cmath>
#include <utility>

template <class T> C4x4TMatrix<T>::C4x4TMatrix()
{
    SetIdentity();
}

template <class T> C4x4TMatrix<T>::C4x4TMatrix(const T* values)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m_Values[i][j] = values[4 * i + j];
}

template <class T> C4x4TMatrix<T>::~C4x4TMatrix() = default;

template <class T> void C4x4TMatrix<T>::SetIdentity()
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m_Values[i][j] = i == j ? T(1) : T(0);
}

template <class T> bool C4x4TMatrix<T>::IsIdentity(double tolerance) const
{
    return IsEqual(C4x4TMatrix(), tolerance);
}

template <class T> bool C4x4TMatrix<T>::IsEqual(const C4x4TMatrix& other, double tolerance) const
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            // Written so that a NaN on either side compares unequal.
            if (!(std::fabs(double(m_Values[i][j]) - double(other.m_Values[i][j])) <= tolerance))
                return false;
    return true;
}

template <class T> C4x4TMatrix<T> C4x4TMatrix<T>::operator*(const C4x4TMatrix& other) const
{
    C4x4TMatrix r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
        {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k)
                sum += double(m_Values[i][k]) * double(other.m_Values[k][j]);
            r.m_Values[i][j] = T(sum);
        }
    return r;
}

template <class T> C4x4TMatrix<T>& C4x4TMatrix<T>::operator*=(const C4x4TMatrix& other)
{
    *this = *this * other;
    return *this;
}

template <class T> void C4x4TMatrix<T>::TransformPoint(const T* in, T* out) const
{
    const double px = in[0], py = in[1], pz = in[2];
    T r[3];
    for (int i = 0; i < 3; ++i)
        r[i] = T(m_Values[i][0] * px + m_Values[i][1] * py + m_Values[i][2] * pz +
                 double(m_Values[i][3]));
    out[0] = r[0];
    out[1] = r[1];
    out[2] = r[2];
}

template <class T> void C4x4TMatrix<T>::TransformVector(const T* in, T* out) const
{
    const double vx = in[0], vy = in[1], vz = in[2];
    T r[3];
    for (int i = 0; i < 3; ++i)
        r[i] = T(m_Values[i][0] * vx + m_Values[i][1] * vy + m_Values[i][2] * vz);
    out[0] = r[0];
    out[1] = r[1];
    out[2] = r[2];
}

template <class T> C3DTPoint<T> C4x4TMatrix<T>::TransformPoint(const C3DTPoint<T>& p) const
{
    C3DTPoint<T> r(p);
    const T in[3] = {p.m_X, p.m_Y, p.m_Z};
    T out[3];
    TransformPoint(in, out);
    r.Set(out[0], out[1], out[2]);
    return r;
}

template <class T> C3DTVector<T> C4x4TMatrix<T>::TransformVector(const C3DTVector<T>& v) const
{
    C3DTVector<T> r(v);
    const T in[3] = {v.m_X, v.m_Y, v.m_Z};
    T out[3];
    TransformVector(in, out);
    r.Set(out[0], out[1], out[2]);
    return r;
}

template <class T> C3DTVector<T> C4x4TMatrix<T>::GetTranslation() const
{
    return C3DTVector<T>(m_Values[0][3], m_Values[1][3], m_Values[2][3]);
}

template <class T> void C4x4TMatrix<T>::SetTranslation(const C3DTVector<T>& t)
{
    m_Values[0][3] = t.m_X;
    m_Values[1][3] = t.m_Y;
    m_Values[2][3] = t.m_Z;
}

template <class T> void C4x4TMatrix<T>::Transpose()
{
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j)
            std::swap(m_Values[i][j], m_Values[j][i]);
}

namespace
{
// The 2 x 2 minors of rows (0, 1) and of rows (2, 3), one per pair of columns, in the order
// (01, 02, 03, 12, 13, 23); det = s0·c5 − s1·c4 + s2·c3 + s3·c2 − s4·c1 + s5·c0.
struct CMinors
{
    double s[6];
    double c[6];
    double Determinant() const
    {
        return s[0] * c[5] - s[1] * c[4] + s[2] * c[3] + s[3] * c[2] - s[4] * c[1] + s[5] * c[0];
    }
};

template <class T> CMinors ComputeMinors(const T (&m)[4][4], double (&a)[4][4])
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            a[i][j] = m[i][j];
    CMinors r{};
    r.s[0] = a[0][0] * a[1][1] - a[1][0] * a[0][1];
    r.s[1] = a[0][0] * a[1][2] - a[1][0] * a[0][2];
    r.s[2] = a[0][0] * a[1][3] - a[1][0] * a[0][3];
    r.s[3] = a[0][1] * a[1][2] - a[1][1] * a[0][2];
    r.s[4] = a[0][1] * a[1][3] - a[1][1] * a[0][3];
    r.s[5] = a[0][2] * a[1][3] - a[1][2] * a[0][3];
    r.c[0] = a[2][0] * a[3][1] - a[3][0] * a[2][1];
    r.c[1] = a[2][0] * a[3][2] - a[3][0] * a[2][2];
    r.c[2] = a[2][0] * a[3][3] - a[3][0] * a[2][3];
    r.c[3] = a[2][1] * a[3][2] - a[3][1] * a[2][2];
    r.c[4] = a[2][1] * a[3][3] - a[3][1] * a[2][3];
    r.c[5] = a[2][2] * a[3][3] - a[3][2] * a[2][3];
    return r;
}

// Below this fraction of Hadamard's bound a matrix is treated as singular.
const double kSingularRatio = 1e-14;
} // namespace

template <class T> double C4x4TMatrix<T>::GetDeterminant() const
{
    double a[4][4];
    return ComputeMinors(m_Values, a).Determinant();
}

template <class T> bool C4x4TMatrix<T>::GetInverse(C4x4TMatrix& inverse) const
{
    double a[4][4];
    const CMinors n = ComputeMinors(m_Values, a);
    double bound = 1.0;
    for (int i = 0; i < 4; ++i)
    {
        double length2 = 0.0;
        for (int j = 0; j < 4; ++j)
        {
            if (!std::isfinite(a[i][j]))
                return false;
            length2 += a[i][j] * a[i][j];
        }
        bound *= std::sqrt(length2);
    }
    const double det = n.Determinant();
    if (!(std::fabs(det) > kSingularRatio * bound) || !std::isfinite(det))
        return false;
    const double k = 1.0 / det;
    const double* s = n.s;
    const double* c = n.c;
    double r[4][4];
    r[0][0] = (a[1][1] * c[5] - a[1][2] * c[4] + a[1][3] * c[3]) * k;
    r[0][1] = (-a[0][1] * c[5] + a[0][2] * c[4] - a[0][3] * c[3]) * k;
    r[0][2] = (a[3][1] * s[5] - a[3][2] * s[4] + a[3][3] * s[3]) * k;
    r[0][3] = (-a[2][1] * s[5] + a[2][2] * s[4] - a[2][3] * s[3]) * k;
    r[1][0] = (-a[1][0] * c[5] + a[1][2] * c[2] - a[1][3] * c[1]) * k;
    r[1][1] = (a[0][0] * c[5] - a[0][2] * c[2] + a[0][3] * c[1]) * k;
    r[1][2] = (-a[3][0] * s[5] + a[3][2] * s[2] - a[3][3] * s[1]) * k;
    r[1][3] = (a[2][0] * s[5] - a[2][2] * s[2] + a[2][3] * s[1]) * k;
    r[2][0] = (a[1][0] * c[4] - a[1][1] * c[2] + a[1][3] * c[0]) * k;
    r[2][1] = (-a[0][0] * c[4] + a[0][1] * c[2] - a[0][3] * c[0]) * k;
    r[2][2] = (a[3][0] * s[4] - a[3][1] * s[2] + a[3][3] * s[0]) * k;
    r[2][3] = (-a[2][0] * s[4] + a[2][1] * s[2] - a[2][3] * s[0]) * k;
    r[3][0] = (-a[1][0] * c[3] + a[1][1] * c[1] - a[1][2] * c[0]) * k;
    r[3][1] = (a[0][0] * c[3] - a[0][1] * c[1] + a[0][2] * c[0]) * k;
    r[3][2] = (-a[3][0] * s[3] + a[3][1] * s[1] - a[3][2] * s[0]) * k;
    r[3][3] = (a[2][0] * s[3] - a[2][1] * s[1] + a[2][2] * s[0]) * k;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            inverse.m_Values[i][j] = T(r[i][j]);
    return true;
}

template <class T> bool C4x4TMatrix<T>::Invert()
{
    return GetInverse(*this);
}

template <class T> void C4x4TMatrix<T>::Serialize(CXArchive& ar)
{
    if (ar.IsStoring())
    {
        ar.WriteArray(&m_Values[0][0], 16);
        return;
    }
    T values[16];
    ar.ReadArray(values, 16);
    for (int i = 0; i < 16; ++i)
        m_Values[i / 4][i % 4] = values[i];
}

template class C4x4TMatrix<float>;
template class C4x4TMatrix<double>;

bool GetXYZSwap(unsigned code, int& axisA, int& axisB, int& mirrorAxis)
{
    if (code == 0 || (code & ~0x77u) != 0)
        return false;
    int a = -1, b = -1, k = -1;
    switch (code & 0x07u)
    {
    case 0:
        break;
    case _SwapXY:
        a = 0, b = 1;
        break;
    case _SwapXZ:
        a = 0, b = 2;
        break;
    case _SwapYZ:
        a = 1, b = 2;
        break;
    default:
        return false;
    }
    switch (code & 0x70u)
    {
    case 0:
        break;
    case _MirrorX:
        k = 0;
        break;
    case _MirrorY:
        k = 1;
        break;
    case _MirrorZ:
        k = 2;
        break;
    default:
        return false;
    }
    axisA = a;
    axisB = b;
    mirrorAxis = k;
    return true;
}

namespace
{
void Negate(float& v)
{
    if (v != 0.0f)
        v = -v;
}
} // namespace

C4x4TMatrix<float> AdjustMatrix(unsigned code, const C4x4TMatrix<float>& m)
{
    int a, b, k;
    if (!GetXYZSwap(code, a, b, k))
        return m;
    C4x4TMatrix<float> r = m;
    if (a >= 0)
    {
        for (int j = 0; j < 4; ++j)
            std::swap(r[a][j], r[b][j]);
        for (int i = 0; i < 4; ++i)
            std::swap(r[i][a], r[i][b]);
    }
    if (k >= 0)
        for (int i = 0; i < 4; ++i)
            if (i != k)
            {
                Negate(r[k][i]);
                Negate(r[i][k]);
            }
    return r;
}

C4x4TMatrix<float> SwapMatrix(unsigned code, const C4x4TMatrix<float>& m)
{
    int a, b, k;
    if (!GetXYZSwap(code, a, b, k))
        return m;
    C4x4TMatrix<float> r = m;
    if (a >= 0)
    {
        std::swap(r[a][3], r[b][3]);
        for (int i = 0; i < 4; ++i)
            std::swap(r[i][a], r[i][b]);
    }
    if (k >= 0)
    {
        Negate(r[k][3]);
        for (int i = 0; i < 4; ++i)
            Negate(r[i][k]);
    }
    return r;
}
