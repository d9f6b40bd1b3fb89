/// \file animation.h
/// \brief The animation family: matrix and quaternion math.
#pragma once

#include <3dzan/animation/math.h>
