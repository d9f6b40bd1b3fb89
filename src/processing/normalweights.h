// The four weightings of a face's normal at one of its corners, as plain inline kernels over
// raw floats. CFaceNormalContributionInfo calls them through its chosen callback; the bulk
// point-normal pass calls them directly, one mode per instantiated loop, so both give the
// same bits.
#pragma once

#include <algorithm>
#include <cmath>

namespace zan_detail
{
/// \brief Weighting kinds after the mode is resolved: anything but 1, 3 and 4 is area.
enum class CWeighting
{
    Unweighted,
    Area,
    EdgeLength,
    Angle
};

constexpr CWeighting WeightingOf(unsigned mode)
{
    switch (mode)
    {
    case 1:
        return CWeighting::Unweighted;
    case 3:
        return CWeighting::EdgeLength;
    case 4:
        return CWeighting::Angle;
    default:
        return CWeighting::Area;
    }
}

/// \brief Whether the weighting reads the unnormalised face normal.
constexpr bool NeedsRawNormal(CWeighting weighting)
{
    return weighting == CWeighting::Area || weighting == CWeighting::EdgeLength;
}

/// \brief The unit normal from a face's unnormalised Newell normal, with the same operations
///        and the same (1, 0, 0) fallback as NewellNormal(unit = true).
inline void UnitFromRaw(const float raw[3], float unit[3])
{
    const float length = std::sqrt(raw[0] * raw[0] + raw[1] * raw[1] + raw[2] * raw[2]);
    if (!(length > 0.0f) || !std::isfinite(length))
    {
        unit[0] = 1.0f;
        unit[1] = unit[2] = 0.0f;
        return;
    }
    unit[0] = raw[0] / length;
    unit[1] = raw[1] / length;
    unit[2] = raw[2] / length;
}

/// \brief Adds the contribution of a face at a corner to \p sum.
/// \param unit the face's unit normal; \p raw its unnormalised normal (modes area and edge).
/// \param e1 previous point - corner point; \p e2 next point - corner point.
template <CWeighting W>
inline void AddWeighted(const float unit[3], const float raw[3], const float e1[3],
                        const float e2[3], float sum[3])
{
    if constexpr (W == CWeighting::Unweighted)
    {
        sum[0] += unit[0];
        sum[1] += unit[1];
        sum[2] += unit[2];
    }
    else if constexpr (W == CWeighting::Area)
    {
        sum[0] += raw[0];
        sum[1] += raw[1];
        sum[2] += raw[2];
    }
    else if constexpr (W == CWeighting::EdgeLength)
    {
        const float l1 = e1[0] * e1[0] + e1[1] * e1[1] + e1[2] * e1[2];
        const float l2 = e2[0] * e2[0] + e2[1] * e2[1] + e2[2] * e2[2];
        const double divisor = double(l1) * double(l2);
        // A corner with a zero-length side has no edge weight: it adds nothing rather than
        // an infinite vector.
        if (!(divisor > 0.0))
            return;
        sum[0] += float(double(raw[0]) / divisor);
        sum[1] += float(double(raw[1]) / divisor);
        sum[2] += float(double(raw[2]) / divisor);
    }
    else
    {
        const float l1 = e1[0] * e1[0] + e1[1] * e1[1] + e1[2] * e1[2];
        const float l2 = e2[0] * e2[0] + e2[1] * e2[1] + e2[2] * e2[2];
        const float dot = e1[0] * e2[0] + e1[1] * e2[1] + e1[2] * e2[2];
        const double root = std::sqrt(double(l1) * double(l2));
        // A corner with a zero-length side has no angle: count it as a right angle.
        double cosine = root < 1e-15 ? 0.0 : double(dot) / root;
        cosine = std::clamp(cosine, -1.0, 1.0);
        const float angle = float(std::acos(cosine));
        sum[0] += unit[0] * angle;
        sum[1] += unit[1] * angle;
        sum[2] += unit[2] * angle;
    }
}

/// \brief Normalises a summed normal in double precision when it is longer than 1e-15; a
///        shorter sum is left as it is (opposite faces cancelling give (0, 0, 0)).
inline void NormalizeSum(float sum[3])
{
    const double length = std::sqrt(double(sum[0]) * sum[0] + double(sum[1]) * sum[1] +
                                    double(sum[2]) * sum[2]);
    if (length > 1e-15)
    {
        sum[0] = float(sum[0] / length);
        sum[1] = float(sum[1] / length);
        sum[2] = float(sum[2] / length);
    }
}
} // namespace zan_detail
