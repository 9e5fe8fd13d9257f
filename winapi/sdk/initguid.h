// Stand-in for the SDK's <initguid.h>. On Windows it makes the GUID and property-key macros
// define their constants instead of declaring them; the stand-in's keys are always defined (as
// inline constants), so here it only marks the request.
#pragma once

#define INITGUID
