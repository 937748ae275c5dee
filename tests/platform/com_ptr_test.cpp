// com_ptr against a counting fake: every copy takes one reference, every
// move takes none, and each reference taken is given back exactly once;
// objects of the system are born holding their creator's one reference.
#include <gtest/gtest.h>

#include <utility>

#include "platform/com.h"
#include "platform/com_object.h"

namespace {

class IFake : public IUnknown {
public:
    virtual int Value() = 0;

protected:
    ~IFake() = default;
};
class IOther : public IUnknown {
protected:
    ~IOther() = default;
};

}  // namespace

FDX_DECLARE_IID(IFake, "5D3C7E1A-0B4F-4B55-9E0B-0C1F2A3B4C5D");
FDX_DECLARE_IID(IOther, "5D3C7E1A-0B4F-4B55-9E0B-0C1F2A3B4C5E");

namespace {

// Counts calls; never deletes itself, so that a test can look after the
// last release.
class CCountingFake final : public IFake {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!(riid == IID_IUnknown) && !(riid == IID_IFake)) return E_NOINTERFACE;
        *ppv = static_cast<IFake*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override
    {
        ++addRefs;
        return ++count;
    }
    ULONG Release() override
    {
        ++releases;
        return --count;
    }
    int Value() override { return 7; }

    long count = 0;
    int addRefs = 0;
    int releases = 0;
};

TEST(ComPtr, CopiesTakeAReferenceAndMovesTakeNone)
{
    CCountingFake fake;
    {
        com_ptr<IFake> first(&fake);
        EXPECT_EQ(fake.count, 1);
        com_ptr<IFake> copy(first);
        EXPECT_EQ(fake.count, 2);
        com_ptr<IFake> moved(std::move(copy));
        EXPECT_EQ(fake.count, 2);
        EXPECT_FALSE(copy);
        EXPECT_EQ(moved.get(), &fake);

        com_ptr<IFake> assigned;
        assigned = first;
        EXPECT_EQ(fake.count, 3);
        assigned = assigned;  // self-assignment keeps the count
        EXPECT_EQ(fake.count, 3);
        assigned = std::move(moved);  // the old reference goes, the moved one stays
        EXPECT_EQ(fake.count, 2);
        EXPECT_FALSE(moved);
        EXPECT_EQ(assigned->Value(), 7);
    }
    EXPECT_EQ(fake.count, 0);
    EXPECT_EQ(fake.addRefs, fake.releases);
}

TEST(ComPtr, ResetPutAttachAndDetachBalanceTheCount)
{
    CCountingFake fake;
    com_ptr<IFake> held(&fake);
    held.reset();
    EXPECT_EQ(fake.count, 0);
    held.reset();  // a second reset releases nothing
    EXPECT_EQ(fake.releases, 1);

    held = com_ptr<IFake>(&fake);
    // put() gives back what it held before handing out its slot.
    IFake** slot = held.put();
    EXPECT_EQ(*slot, nullptr);
    EXPECT_EQ(fake.count, 0);

    fake.AddRef();  // a reference the caller already owns
    held = com_ptr<IFake>::attach(&fake);
    EXPECT_EQ(fake.count, 1);
    IFake* raw = held.detach();
    EXPECT_FALSE(held);
    EXPECT_EQ(fake.count, 1);
    raw->Release();

    held = com_ptr<IFake>(&fake);
    held = nullptr;
    EXPECT_EQ(fake.count, 0);
    EXPECT_EQ(fake.addRefs, fake.releases);
}

TEST(ComPtr, QueriesHandOutOneReferenceOrNothing)
{
    CCountingFake fake;
    com_ptr<IUnknown> unknown(&fake);
    {
        com_ptr<IFake> same = unknown.query<IFake>();
        ASSERT_TRUE(same);
        EXPECT_EQ(fake.count, 2);
        com_ptr<IOther> other = unknown.query<IOther>();
        EXPECT_FALSE(other);
        EXPECT_EQ(fake.count, 2);
        com_ptr<IOther> out;
        EXPECT_EQ(unknown.query_to(out), E_NOINTERFACE);
        EXPECT_FALSE(out);
    }
    com_ptr<IFake> empty;
    com_ptr<IOther> out;
    EXPECT_EQ(empty.query_to(out), E_POINTER);
    unknown.reset();
    EXPECT_EQ(fake.count, 0);
}

// An object of the system, counted by the shared base.
int g_deleted = 0;
class CCounted final : public IFake, private CRefCounted<CCounted> {
    friend class CRefCounted<CCounted>;

public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!(riid == IID_IUnknown) && !(riid == IID_IFake)) return E_NOINTERFACE;
        return HandOut(static_cast<IFake*>(this), ppv);
    }
    ULONG AddRef() override { return AddRefImpl(); }
    ULONG Release() override { return ReleaseImpl(); }
    int Value() override { return static_cast<int>(RefCount()); }

private:
    ~CCounted() { ++g_deleted; }
};

TEST(ComObject, BornWithTheCreatorsReferenceAndGoneWithTheLast)
{
    g_deleted = 0;
    {
        com_ptr<IFake> object = MakeComObject<CCounted, IFake>();
        EXPECT_EQ(object->Value(), 1);
        com_ptr<IFake> copy = object;
        EXPECT_EQ(object->Value(), 2);
        object.reset();
        EXPECT_EQ(g_deleted, 0);
        EXPECT_EQ(copy->Value(), 1);
    }
    EXPECT_EQ(g_deleted, 1);
    // A failed query on a new object leaves only the creator's reference,
    // whose release deletes it.
    {
        com_ptr<IUnknown> object = MakeComObject<CCounted, IUnknown>();
        void* other = reinterpret_cast<void*>(1);
        EXPECT_EQ(object->QueryInterface(IID_IOther, &other), E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);
    }
    EXPECT_EQ(g_deleted, 2);
}

}  // namespace
