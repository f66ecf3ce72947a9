#include "app/uAppHooks.h"

#include <cstdio>

HRESULT RunApplication(bool /*fullScreen*/)
{
    std::fputs("halvora: the renderer is not built yet\n", stderr);
    return E_NOTIMPL;
}
