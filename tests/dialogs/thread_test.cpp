// The worker-thread class and the text helpers of the dialogs.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/Dialogs.h"

namespace {

class CGatedThread : public OS::CThread {
public:
    CGatedThread() : gate(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~CGatedThread() override { ::CloseHandle(gate); }
    DWORD Run() override
    {
        ::WaitForSingleObject(gate, 30000);
        return result;
    }
    HANDLE gate;
    DWORD result = 0;
};

TEST(RunThread, WaitGivesTheResultOnlyOnceTheThreadHasEnded)
{
    CGatedThread t;
    DWORD result = 12345;
    EXPECT_FALSE(t.Wait(10, result)) << "never started";
    EXPECT_FALSE(t.IsRunning());

    // A negative run code comes back as the same 32 bits.
    t.result = static_cast<DWORD>(-2301);
    ASSERT_TRUE(t.Start(THREAD_PRIORITY_NORMAL));
    EXPECT_TRUE(t.IsRunning());
    EXPECT_FALSE(t.Start()) << "a second start while running";
    EXPECT_FALSE(t.Wait(50, result));
    EXPECT_FALSE(t.Wait(50, result, true));
    EXPECT_EQ(result, 12345u);

    ::SetEvent(t.gate);
    ASSERT_TRUE(t.Wait(0, result));
    EXPECT_EQ(static_cast<int>(result), -2301);
    EXPECT_FALSE(t.IsRunning());
    // Waiting again on an ended thread answers at once with the same result.
    result = 0;
    EXPECT_TRUE(t.Wait(10, result));
    EXPECT_EQ(static_cast<int>(result), -2301);

    // It can run again once it has ended.
    t.result = 7;
    ASSERT_TRUE(t.Start());
    ASSERT_TRUE(t.Wait(0, result, true));
    EXPECT_EQ(result, 7u);
}

TEST(DialogText, AmpersandsAreDoubledSoTheyShowAsThemselves)
{
    EXPECT_EQ(CKorvexAgreementDlg::DoubleAmpersands(""), "");
    EXPECT_EQ(CKorvexAgreementDlg::DoubleAmpersands("No mark"), "No mark");
    EXPECT_EQ(CKorvexAgreementDlg::DoubleAmpersands("&A&&b&"), "&&A&&&&b&&");
}

TEST(DialogText, AnsiRoundTripKeepsWhatTheCodePageHolds)
{
    EXPECT_EQ(KorvexWide(""), L"");
    EXPECT_EQ(KorvexWide("Fix 42\r\n"), L"Fix 42\r\n");
    EXPECT_EQ(KorvexNarrow(L"Fix 42"), "Fix 42");
    // Embedded line breaks and a long text survive whole.
    std::string longText(20000, 'x');
    EXPECT_EQ(KorvexNarrow(KorvexWide(longText)), longText);
}

}  // namespace
