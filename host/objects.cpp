// The omni light's settings.
#include "host/objects.h"

void GenLight::SetAtten(TimeValue t, int which, float f)
{
    (void)t;
    if (which >= 0 && which < 4) atten[which] = f;
}

float GenLight::GetAtten(TimeValue t, int which) const
{
    (void)t;
    return (which >= 0 && which < 4) ? atten[which] : 0.0f;
}

void GenLight::SetRGBColor(TimeValue t, Point3& rgb)
{
    (void)t;
    color = rgb;
}
