// User objects made from selected 3D points (Scene::AddSceneObject and
// Scene::AddSceneObjectFromPoints, declared with the scene): boxes, cones and planes placed
// on the points, and triangle meshes through them, plain or textured from the current
// camera image.
//
// The meshes' faces come from a triangulation of the points' 2D coordinates, reached
// through the function installed here.
#pragma once

#include <vector>

#include "foundation/numeric/fixed_vector.h"
#include "scene/objects/textured_mesh.h"

// Triangulates 2D points: 0 and `triangles` replaced by triples of point numbers (each
// clockwise for a y-up frame), or a negative code, `triangles` then untouched.
using PointTriangulator = int (*)(std::vector<MeshTriangle>& triangles,
                                  std::vector<vm::Vector2> points);

// The triangulation the mesh builder runs (the Delaunay triangulation by default); null makes the
// builder refuse every mesh with a level-2 log line. Returns the one installed before.
// Interface thread only, like the builder.
PointTriangulator SetPointTriangulator(PointTriangulator triangulator);
PointTriangulator GetPointTriangulator();
