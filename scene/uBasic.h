#pragma once
// The scene tree: every object of the scene is a TBasic; containers are TMaster objects
// holding an intrusive, doubly linked list of children.
//
// Lifecycle: an object is created detached, attached with Add, updated and drawn by its
// owner every frame, and destroyed by its owner (during UpdateChildren once it has set
// Dead, or together with the owner). Device resources are delivered only by the scene
// root's tree walk, never passed on by plain containers.

#include "platform/win/windows.h"

#include <cstdint>

class TMaster;

class TBasic {
public:
    TMaster* Owner = nullptr;
    TBasic* Next = nullptr;
    TBasic* Prev = nullptr;
    int32_t Age = 0;
    float TimeLived = 0.0f;
    bool Dead = false;

    TBasic() = default;
    virtual ~TBasic();
    TBasic(const TBasic&) = delete;
    TBasic& operator=(const TBasic&) = delete;

    virtual bool OnKeyDown(uint16_t key);
    virtual void OnMouse();
    virtual HRESULT RestoreDeviceObjects();
    virtual void InvalidateDeviceObjects();
    virtual void FrameMove();
    virtual void PrepareRender();
    virtual void Render();
    virtual bool IsMouseOver();
    virtual void Notify();
    virtual bool HasFocus();
    // The class's own name, as the log names it whatever the compiler calls it.
    virtual const char* ClassName() const { return "TBasic"; }
};

class TMaster : public TBasic {
public:
    const char* ClassName() const override { return "TMaster"; }
    int32_t ChildCount = 0;
    bool ChildrenVisible = true;
    TBasic* First = nullptr;
    TBasic* Last = nullptr;

    TMaster() = default;
    // Children go first to last, depth first. A C++ destructor cannot reach an override of
    // InvalidateDeviceObjects, so a container whose own release matters calls it in its
    // own destructor.
    ~TMaster() override;

    void FrameMove() override;
    void Render() override;
    void Notify() override;
    bool HasFocus() override;

    virtual void Update();
    virtual void UpdateChildren();
    // Pre-order successor of Obj within this container's subtree; Obj must lie in it.
    virtual bool GetNext(TBasic*& Obj);
    virtual void NotifySelf();

    // Child must be in no list.
    void Add(TBasic* Child);
    template <class T>
    T* AddChild(T* Child)
    {
        Add(Child);
        return Child;
    }
    // Child's own links are left as they were.
    void Unlink(TBasic* Child);
    void Remove(TBasic* Child, bool Keep);
    bool Contains(const TBasic* Child) const;
    void BringToFront(TBasic* Child);
    // Only for the destructor: the list fields are left as they were.
    void FreeChildren();
};

// The object that receives key and mouse notices; cleared when it is destroyed.
extern TBasic* FocusObject;
