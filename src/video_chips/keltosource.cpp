#include "keltosource.h"

keltosource* keltosource::p_kelto_source = nullptr;

keltosource* keltosource::pInstance()
{
    if (!p_kelto_source)
        p_kelto_source = new keltosource();
    return p_kelto_source;
}
