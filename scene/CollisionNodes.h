// A collision model as host nodes: a hidden, unrendered dummy holding a
// mesh for the faces (one material id per surface kind, each face's light in
// the illumination channel), one for the shadow faces, and one for each
// sphere and box with its surface values as user properties. The plug-in
// builds a model's own collision with it; the command-line host builds the
// entries of .col files with it. Host calls only.
#pragma once

#include <cstdint>
#include <string>

#include "col/Collision.h"
#include "host/max.h"

namespace collision_nodes {

// Builds the model under parent (top level when null) as a dummy named
// holderName, which carries the model's name, version, model id and radius.
// shapesLeft: the spheres and boxes that may still be built (each a mesh in
// the host); those past it are counted in leftOut. Gives the dummy, or null
// when the host made none.
INode* build(Interface& ip, INode* parent, const orvik::col::Model& model, const std::string& holderName,
             std::uint64_t& shapesLeft, std::uint64_t& leftOut);

// A new dummy object, or null when the host has no dummy class.
Object* newDummy(Interface& ip);
// A node for obj at local transform tm under parent (top level when null),
// named; hidden and kept out of renders when collision is set. Null when
// obj is null.
INode* placeNode(Interface& ip, Object* obj, INode* parent, const Matrix3& tm, const std::string& name, bool collision);
// The translation to p.
Matrix3 translation(const Point3& p);

}  // namespace collision_nodes
