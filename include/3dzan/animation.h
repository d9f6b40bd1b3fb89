/// \file animation.h
/// \brief The animation family: matrix and quaternion math, keys, key curves and keyframable
///        objects.
#pragma once

#include <3dzan/animation/keyframable.h>
#include <3dzan/animation/keys.h>
#include <3dzan/animation/math.h>
