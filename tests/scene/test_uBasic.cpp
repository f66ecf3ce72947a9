#include "scene/uBasic.h"

#include "framework/uD3DGlobals.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// Records its updates and destruction in a shared journal.
class Probe : public TBasic {
public:
    Probe(std::string name, std::vector<std::string>& journal) : Name(std::move(name)), Journal(journal) {}
    ~Probe() override { Journal.push_back("~" + Name); }
    void FrameMove() override
    {
        Journal.push_back(Name);
        if (OnFrame)
            OnFrame(*this);
    }
    void Render() override { Journal.push_back("draw " + Name); }

    std::string Name;
    std::vector<std::string>& Journal;
    std::function<void(Probe&)> OnFrame;
};

class Box : public TMaster {
public:
    Box(std::string name, std::vector<std::string>& journal) : Name(std::move(name)), Journal(journal) {}
    ~Box() override { Journal.push_back("~" + Name); }
    void Update() override
    {
        Journal.push_back(Name);
        if (DieInUpdate)
            Dead = true;
    }

    std::string Name;
    std::vector<std::string>& Journal;
    bool DieInUpdate = false;
};

std::vector<TBasic*> ListOf(const TMaster& m)
{
    std::vector<TBasic*> out;
    for (TBasic* c = m.First; c; c = c->Next)
        out.push_back(c);
    return out;
}

void ExpectConsistent(const TMaster& m)
{
    int n = 0;
    const TBasic* prev = nullptr;
    for (TBasic* c = m.First; c; c = c->Next) {
        EXPECT_EQ(c->Prev, prev);
        EXPECT_EQ(c->Owner, &m);
        prev = c;
        ++n;
    }
    EXPECT_EQ(m.Last, prev);
    EXPECT_EQ(m.ChildCount, n);
}

class BasicTest : public ::testing::Test {
protected:
    void SetUp() override { FrameStep = 1.0f; }
    std::vector<std::string> J;
};

TEST_F(BasicTest, RemovingFromEachPositionKeepsTheOrderOfTheRest)
{
    // Positions in a list of three; -1 is the only child of a list of one.
    for (int index : {0, 1, 2, -1}) {
        SCOPED_TRACE(index);
        TMaster m;
        std::vector<TBasic*> items;
        const int count = index < 0 ? 1 : 3;
        for (int i = 0; i < count; ++i)
            items.push_back(m.AddChild(new TBasic));
        TBasic* victim = items[index < 0 ? 0 : index];
        m.Remove(victim, true);
        EXPECT_EQ(victim->Next, nullptr);
        EXPECT_EQ(victim->Prev, nullptr);
        std::vector<TBasic*> rest;
        for (TBasic* t : items)
            if (t != victim)
                rest.push_back(t);
        EXPECT_EQ(ListOf(m), rest);
        ExpectConsistent(m);
        EXPECT_FALSE(m.Contains(victim));
        delete victim;
    }
}

TEST_F(BasicTest, BringToFrontMovesOrAppends)
{
    TMaster m;
    TBasic* a = m.AddChild(new TBasic);
    TBasic* b = m.AddChild(new TBasic);
    TBasic* c = m.AddChild(new TBasic);
    m.BringToFront(a);
    EXPECT_EQ(ListOf(m), (std::vector<TBasic*>{b, c, a}));
    m.BringToFront(a);  // already last
    EXPECT_EQ(ListOf(m), (std::vector<TBasic*>{b, c, a}));
    TBasic* d = new TBasic;
    m.BringToFront(d);  // not yet listed
    EXPECT_EQ(ListOf(m), (std::vector<TBasic*>{b, c, a, d}));
    ExpectConsistent(m);
}

TEST_F(BasicTest, EmptyContainer)
{
    Box m("m", J);
    TBasic* obj = &m;
    EXPECT_FALSE(m.GetNext(obj));
    EXPECT_FALSE(m.Contains(&m));
    m.FrameMove();
    m.Render();
    EXPECT_EQ(J, (std::vector<std::string>{"m"}));
}

TEST_F(BasicTest, DeadChildIsDestroyedInThePassAndTheNextStillUpdates)
{
    TMaster m;
    auto* a = m.AddChild(new Probe("a", J));
    auto* b = m.AddChild(new Probe("b", J));
    m.AddChild(new Probe("c", J));
    a->OnFrame = [](Probe& p) { p.Dead = false; };
    b->OnFrame = [](Probe& p) { p.Dead = true; };
    m.FrameMove();
    EXPECT_EQ(J, (std::vector<std::string>{"a", "b", "~b", "c"}));
    EXPECT_EQ(m.ChildCount, 2);
    ExpectConsistent(m);
    EXPECT_EQ(a->Age, 1);
    EXPECT_FLOAT_EQ(a->TimeLived, 1.0f);
}

TEST_F(BasicTest, ChildAppendedDuringThePassIsUpdatedInTheSamePass)
{
    TMaster m;
    auto* a = m.AddChild(new Probe("a", J));
    a->OnFrame = [&](Probe& p) {
        p.OnFrame = nullptr;
        m.AddChild(new Probe("late", J));
    };
    FrameStep = 0.5f;
    m.FrameMove();
    EXPECT_EQ(J, (std::vector<std::string>{"a", "late"}));
    EXPECT_FLOAT_EQ(static_cast<Probe*>(m.Last)->TimeLived, 0.5f);
}

TEST_F(BasicTest, DeadContainerSkipsItsChildrenAndIsDestroyedByItsOwner)
{
    TMaster root;
    auto* box = root.AddChild(new Box("box", J));
    box->AddChild(new Probe("inner", J));
    root.AddChild(new Probe("after", J));
    box->DieInUpdate = true;
    root.FrameMove();
    EXPECT_EQ(J, (std::vector<std::string>{"box", "~box", "~inner", "after"}));
    EXPECT_EQ(root.ChildCount, 1);
}

TEST_F(BasicTest, RenderDrawsChildrenInOrderUnlessHidden)
{
    TMaster m;
    m.AddChild(new Probe("a", J));
    m.AddChild(new Probe("b", J));
    m.Render();
    m.ChildrenVisible = false;
    m.Render();
    EXPECT_EQ(J, (std::vector<std::string>{"draw a", "draw b"}));
}

TEST_F(BasicTest, PreOrderWalkVisitsEveryDescendantOnce)
{
    TMaster root;
    auto* a = root.AddChild(new TMaster);
    TBasic* a1 = a->AddChild(new TBasic);
    auto* a2 = a->AddChild(new TMaster);  // an empty container
    TBasic* b = root.AddChild(new TBasic);
    std::vector<TBasic*> seen;
    TBasic* obj = &root;
    while (root.GetNext(obj))
        seen.push_back(obj);
    EXPECT_EQ(seen, (std::vector<TBasic*>{a, a1, a2, b}));

    // Restricted to a subtree: the walk from A ends after A's last descendant, and the walk
    // of the empty A2, which has a sibling after it, ends at once.
    struct Walk {
        TMaster* from;
        std::vector<TBasic*> seen;
    };
    for (const Walk& w : {Walk{a, {a1, a2}}, Walk{a2, {}}}) {
        seen.clear();
        obj = w.from;
        while (w.from->GetNext(obj))
            seen.push_back(obj);
        EXPECT_EQ(seen, w.seen);
    }
    a->AddChild(new TBasic);  // now a sibling right after A2 as well
    obj = a2;
    EXPECT_FALSE(a2->GetNext(obj));
    EXPECT_EQ(obj, a2);
}

TEST_F(BasicTest, DestructionOrderAndFocus)
{
    auto* root = new Box("root", J);
    auto* a = root->AddChild(new Box("A", J));
    auto* a1 = a->AddChild(new Probe("A1", J));
    root->AddChild(new Probe("B", J));
    FocusObject = a1;
    EXPECT_TRUE(root->HasFocus());
    EXPECT_TRUE(a->HasFocus());
    EXPECT_TRUE(a1->HasFocus());
    EXPECT_FALSE(static_cast<TBasic*>(root->Last)->HasFocus());

    a->Remove(a1, false);
    EXPECT_EQ(FocusObject, nullptr);
    EXPECT_FALSE(root->HasFocus());
    J.clear();

    a->AddChild(new Probe("A2", J));
    delete root;
    EXPECT_EQ(J, (std::vector<std::string>{"~root", "~A", "~A2", "~B"}));
}

}  // namespace
