#include "scene/uBasic.h"

#include "framework/uD3DGlobals.h"

TBasic* FocusObject = nullptr;

// ---------------------------------------------------------------- TBasic

TBasic::~TBasic()
{
    if (FocusObject == this)
        FocusObject = nullptr;
}

bool TBasic::OnKeyDown(uint16_t) { return false; }
void TBasic::OnMouse() {}
HRESULT TBasic::RestoreDeviceObjects() { return S_OK; }
void TBasic::InvalidateDeviceObjects() {}
void TBasic::FrameMove() {}
void TBasic::PrepareRender() {}
void TBasic::Render() {}
bool TBasic::IsMouseOver() { return false; }
void TBasic::Notify() {}
bool TBasic::HasFocus() { return FocusObject == this; }

// ---------------------------------------------------------------- TMaster

TMaster::~TMaster()
{
    TMaster::InvalidateDeviceObjects();
    FreeChildren();
}

void TMaster::FrameMove()
{
    Update();
    // A container that marked itself dead leaves its children alone; its owner destroys it.
    if (!Dead)
        UpdateChildren();
}

void TMaster::Update() {}

void TMaster::UpdateChildren()
{
    TBasic* c = First;
    while (c) {
        c->FrameMove();
        c->Age += 1;
        c->TimeLived += FrameStep;
        if (c->Dead) {
            TBasic* n = c->Next;
            Remove(c, false);
            c = n;
        } else {
            // Read after the update, so a child appended during the pass is reached.
            c = c->Next;
        }
    }
}

void TMaster::Render()
{
    if (!ChildrenVisible)
        return;
    for (TBasic* c = First; c; c = c->Next)
        c->Render();
}

void TMaster::NotifySelf() {}

void TMaster::Notify()
{
    NotifySelf();
    for (TBasic* c = First; c; c = c->Next)
        c->Notify();
}

bool TMaster::HasFocus()
{
    if (FocusObject == this)
        return true;
    for (TBasic* c = First; c; c = c->Next)
        if (c->HasFocus())
            return true;
    return false;
}

bool TMaster::GetNext(TBasic*& Obj)
{
    if (auto* m = dynamic_cast<TMaster*>(Obj); m && m->First) {
        Obj = m->First;
        return true;
    }
    // An empty container's walk ends at once: its siblings lie outside its subtree.
    if (Obj == this)
        return false;
    if (Obj->Next) {
        Obj = Obj->Next;
        return true;
    }
    TMaster* p = Obj->Owner;
    // A null owner before reaching this container means Obj was outside the subtree;
    // ending the walk is safer than following a null link.
    while (p && p != this) {
        if (p->Next) {
            Obj = p->Next;
            return true;
        }
        p = p->Owner;
    }
    return false;
}

void TMaster::Add(TBasic* Child)
{
    if (!First)
        First = Child;
    else {
        Child->Prev = Last;
        Last->Next = Child;
    }
    Last = Child;
    Child->Owner = this;
    ChildCount += 1;
}

void TMaster::Unlink(TBasic* Child)
{
    if (ChildCount <= 0)
        return;  // nothing listed: following First would dereference null
    if (ChildCount == 1) {
        First = nullptr;
        Last = nullptr;
    } else if (Child == First) {
        First->Next->Prev = Child->Prev;
        First = Child->Next;
    } else if (Child == Last) {
        Child->Prev->Next = Child->Next;
        Last = Child->Prev;
    } else {
        Child->Prev->Next = Child->Next;
        Child->Next->Prev = Child->Prev;
    }
    ChildCount -= 1;
}

void TMaster::Remove(TBasic* Child, bool Keep)
{
    Unlink(Child);
    if (!Keep)
        delete Child;
    else {
        Child->Next = nullptr;
        Child->Prev = nullptr;
    }
}

bool TMaster::Contains(const TBasic* Child) const
{
    for (const TBasic* c = First; c; c = c->Next) {
        if (c == Child)
            return true;
        if (c == Last)
            break;
    }
    return false;
}

void TMaster::BringToFront(TBasic* Child)
{
    if (Contains(Child))
        Remove(Child, true);
    Add(Child);
}

void TMaster::FreeChildren()
{
    TBasic* c = First;
    while (c) {
        TBasic* n = c->Next;
        delete c;
        c = n;
    }
}
