#include "app/uAppHooks.h"

#include "app/uMain.h"
#include "framework/uD3DGlobals.h"
#include "framework/uMyApp.h"
#include "scene/uGroup.h"

HRESULT RunApplication(bool fullScreen)
{
    App = new TMyApp();
    const HRESULT result = App->Create_(nullptr);
    App->ResetTimers();
    // A start that failed before the window existed leaves nothing to post WM_QUIT:
    // pumping would wait for ever.
    if (App->hWnd && IsWindow(App->hWnd))
        PumpMessages(fullScreen);
    // The preview ends with its parent's WM_DESTROY, which never passes through
    // CloseApp; release the device and scene here instead of leaving them to the exit.
    if (Device || SceneRoot)
        App->Cleanup3DEnvironment();
    delete App;
    App = nullptr;
    return result;
}
