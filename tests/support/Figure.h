// A small animated character for the tests of `--ifp`: a skinned writer
// model (the root frame, a top bone and a chain of two, each bone with an
// HAnim id, a quad bound where they stand) and packages of both layouts that
// move it: "Walk" (the top bone turning and moving, the two below turning)
// and "Wave" (one bone turning); the ANP3 one also "Early", from -1/6 s.
#pragma once

#include "ifp/Package.h"
#include "testkit/DffWriter.h"
#include "testkit/IfpWriter.h"

namespace figure {

dffw::Clump model();
ifpw::Package package(ifp::Layout layout);

}  // namespace figure
