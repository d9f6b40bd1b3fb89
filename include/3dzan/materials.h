/// \file materials.h
/// \brief The materials family: materials, texture maps and the material table.
#pragma once

#include <3dzan/materials/material.h>
#include <3dzan/materials/materialmap.h>
#include <3dzan/materials/materials.h>
