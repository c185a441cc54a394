// Defaults of the host's object root.
#include "host/animatable.h"

Animatable::~Animatable() = default;

Animatable* Animatable::SubAnim(int i)
{
    (void)i;
    return nullptr;
}

BOOL Animatable::AssignController(Animatable* control, int subAnim)
{
    (void)control, (void)subAnim;
    return FALSE;
}

void* Animatable::GetInterface(ULONG id)
{
    (void)id;
    return nullptr;
}
