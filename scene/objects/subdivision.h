// Midpoint subdivision of a closed triangle list (the sphere and the gizmo's spheres).
//
// Triangles are three 16-bit vertex numbers each; vertices are vm::Vector3. The midpoint
// table has 16 16-bit entries per vertex, read as 8 pairs (higher-numbered neighbour,
// midpoint vertex), 0xffff ending the list. All storage is the caller's.
#pragma once

#include <cstdint>

#include "foundation/numeric/fixed_vector.h"

inline constexpr uint16_t kNoMidpoint = 0xffff;
inline constexpr int kMidpointEntries = 16;  // per vertex

// The midpoint vertex of edge {a, b}. An edge met before gives the vertex made then;
// otherwise vertex `next` becomes vertices[a] + vertices[b] (the sum: the caller rescales),
// is recorded in the first free pair of min(a, b), and next is increased. A vertex with
// more than eight higher-numbered neighbours still gets a new midpoint vertex, unrecorded
// (its neighbour then makes a second one: a crack in the mesh, not an overrun).
uint16_t GetMidpointVertex(int& next, vm::Vector3* vertices, uint16_t* table, int a, int b);

// Splits each of the m triangles into four in place: `triangles` has room for 4 m, the
// table for 16 entries per existing vertex, `vertices` for the new ones (3 m / 2 more for a
// closed mesh). Triangle i (a, b, c) becomes (a, ab, ca), (ab, bc, ca), (ab, b, bc),
// (ca, bc, c) at 4i .. 4i + 3, keeping its winding. Returns the new vertex count.
int SubdivideTriangles(uint16_t* triangles, int m, vm::Vector3* vertices, int vertex_count,
                       uint16_t* table);
