// The one-line owners: released once, by their own call, never when empty;
// the empty values they stand for; a lasting object is built before main.
#include "owners.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace {

std::vector<intptr_t> closed;

void recordclose(intptr_t h) { closed.push_back(h); }

using recordedhandle = uniquehandle<intptr_t, recordclose, emptyallones>;

class Owners : public ::testing::Test {
protected:
    void SetUp() override { closed.clear(); }
};

TEST_F(Owners, ReleasesItsHandleOnceAndNeverTheEmptyValue)
{
    {
        recordedhandle empty;
        EXPECT_FALSE(empty);
        EXPECT_EQ(empty.get(), -1);
        recordedhandle owned(7);
        EXPECT_TRUE(owned);
    }
    EXPECT_EQ(closed, std::vector<intptr_t>{7});
}

TEST_F(Owners, MovedAndResetHandlesAreReleasedByTheirLastOwner)
{
    {
        recordedhandle first(1);
        recordedhandle second(std::move(first));
        EXPECT_FALSE(first);
        second.reset(2);
        EXPECT_EQ(closed, std::vector<intptr_t>{1});
        recordedhandle third(3);
        third = std::move(second);
        EXPECT_EQ(closed, (std::vector<intptr_t>{1, 3}));
        EXPECT_EQ(third.release(), 2);
        EXPECT_FALSE(third);
    }
    EXPECT_EQ(closed, (std::vector<intptr_t>{1, 3}));
}

TEST(OwnerEmptyValues, NullAndAllOnesForIntegerAndPointerHandles)
{
    EXPECT_EQ(emptynull::value<int*>(), nullptr);
    EXPECT_EQ(emptynull::value<intptr_t>(), 0);
    EXPECT_EQ(emptyallones::value<intptr_t>(), -1);
    EXPECT_EQ(reinterpret_cast<intptr_t>(emptyallones::value<void*>()), -1);
    EXPECT_EQ(stdiofile().get(), nullptr);
}

struct counted {
    counted() { ++built; }
    static int built;
    int value = 42;
};
int counted::built = 0;

lasting<counted> builtbeforemain;

TEST(Lasting, BuiltOnceBeforeMain)
{
    EXPECT_EQ(counted::built, 1);
    EXPECT_EQ(builtbeforemain.get().value, 42);
}

} // namespace
