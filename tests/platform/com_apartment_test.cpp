// COM apartments of threads.
#include "platform/com/com.h"
#include "platform/com/com_test_hooks.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using platform::com_test::ApartmentDepth;

// Each case runs on a thread of its own, so apartments never leak between cases.
template <typename Body>
void OnNewThread(Body body)
{
    std::thread thread(body);
    thread.join();
}

TEST(Apartment, FirstSameAndOtherKind)
{
    OnNewThread([] {
        EXPECT_EQ(ApartmentDepth(), 0u);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        EXPECT_EQ(ApartmentDepth(), 1u); // the refused call needs no CoUninitialize
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
        EXPECT_EQ(ApartmentDepth(), 2u);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(ApartmentDepth(), 0u);
        // The apartment has ended: the thread may now enter the other kind.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    });
}

TEST(Apartment, ToolScopeOnASingleThreadedThreadBalancesItsCalls)
{
    OnNewThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        // The tool's scope: multithreaded first, single-threaded after RPC_E_CHANGED_MODE, then one
        // CoUninitialize. The thread's own apartment must survive it.
        if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) == RPC_E_CHANGED_MODE) {
            EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
        }
        EXPECT_EQ(ApartmentDepth(), 2u);
        CoUninitialize();
        EXPECT_EQ(ApartmentDepth(), 1u);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(ApartmentDepth(), 0u);
    });
}

TEST(Apartment, ThreadsAreIndependent)
{
    OnNewThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        OnNewThread([] {
            EXPECT_EQ(ApartmentDepth(), 0u);
            EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
            CoUninitialize();
        });
        EXPECT_EQ(ApartmentDepth(), 1u);
        CoUninitialize();
    });
}

TEST(Apartment, BadArgumentsAndUnbalancedUninitialize)
{
    OnNewThread([] {
        int reserved = 0;
        EXPECT_EQ(CoInitializeEx(&reserved, COINIT_MULTITHREADED), E_INVALIDARG);
        EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
        EXPECT_EQ(ApartmentDepth(), 0u);
        CoUninitialize(); // no apartment: nothing happens
        EXPECT_EQ(ApartmentDepth(), 0u);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED | 0x4), S_OK);
        CoUninitialize();
    });
}

} // namespace
