#include <gtest/gtest.h>

#include <comdef.h>
#include <mapicode.h>

#include <string>

#include "standin/common/fault_plan.h"
#include "tests/standin/mapi/mapi_library.h"

namespace {

class FaultPlanTest : public testing::Test {
protected:
    void TearDown() override { SetFaultPlan(NULL); }
};

TEST_F(FaultPlanTest, FailsOnTheKthCallOnly)
{
    ASSERT_TRUE(SetFaultPlan("Op.A=fail:0x80040111@3"));
    HRESULT hr = 1;
    EXPECT_EQ(FaultNone, CheckFault("Op.A", &hr));
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(FaultNone, CheckFault("Op.A", &hr));
    EXPECT_EQ(FaultFail, CheckFault("Op.A", &hr));
    EXPECT_EQ(MAPI_E_LOGON_FAILED, hr);
    EXPECT_EQ(FaultNone, CheckFault("Op.A", &hr));
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(FaultNone, CheckFault("Op.B", &hr));
    EXPECT_EQ(4, FaultCallCount("Op.A"));
    EXPECT_EQ(1, FaultCallCount("Op.B"));
    EXPECT_EQ(0, FaultCallCount("Op.Never"));
}

TEST_F(FaultPlanTest, EveryCallDefaultCodeAndRaise)
{
    ASSERT_TRUE(SetFaultPlan("Op.Fail=fail@*;Op.Raise=raise:-2147024882@*"));
    for (int i = 0; i < 3; ++i) {
        HRESULT hr = S_OK;
        EXPECT_EQ(FaultFail, CheckFault("Op.Fail", &hr));
        EXPECT_EQ(E_FAIL, hr);
        EXPECT_EQ(FaultRaise, CheckFault("Op.Raise", &hr));
        EXPECT_EQ(E_OUTOFMEMORY, hr);
    }
    // Names are matched exactly.
    HRESULT hr = S_OK;
    EXPECT_EQ(FaultNone, CheckFault("op.fail", &hr));
    EXPECT_EQ(FaultNone, CheckFault("Op.Fai", &hr));
}

TEST_F(FaultPlanTest, SeveralEntriesForOneOperationAndLooseSpacing)
{
    ASSERT_TRUE(SetFaultPlan(" Op.X = fail @ 1 ;Op.X=raise: 2147500033 @4; Op.Y=fail:0X8004010F@2 ; "));
    HRESULT hr = S_OK;
    EXPECT_EQ(FaultFail, CheckFault("Op.X", &hr));
    EXPECT_EQ(E_FAIL, hr);
    EXPECT_EQ(FaultNone, CheckFault("Op.X", &hr));
    EXPECT_EQ(FaultNone, CheckFault("Op.X", &hr));
    EXPECT_EQ(FaultRaise, CheckFault("Op.X", &hr));
    EXPECT_EQ(E_NOTIMPL, hr);
    EXPECT_EQ(FaultNone, CheckFault("Op.Y", &hr));
    EXPECT_EQ(FaultFail, CheckFault("Op.Y", &hr));
    EXPECT_EQ(MAPI_E_NOT_FOUND, hr);
}

TEST_F(FaultPlanTest, NewPlanRestartsTheCounts)
{
    ASSERT_TRUE(SetFaultPlan("Op.A=fail@2"));
    HRESULT hr;
    CheckFault("Op.A", &hr);
    CheckFault("Op.Other", &hr);
    ASSERT_TRUE(SetFaultPlan("Op.A=fail@2"));
    EXPECT_EQ(0, FaultCallCount("Op.A"));
    EXPECT_EQ(0, FaultCallCount("Op.Other"));
    EXPECT_EQ(FaultNone, CheckFault("Op.A", &hr));
    EXPECT_EQ(FaultFail, CheckFault("Op.A", &hr));
    // No plan at all still counts.
    ASSERT_TRUE(SetFaultPlan(""));
    EXPECT_EQ(FaultNone, CheckFault("Op.A", NULL));
    EXPECT_EQ(FaultNone, CheckFault("Op.A", &hr));
    EXPECT_EQ(2, FaultCallCount("Op.A"));
}

TEST_F(FaultPlanTest, TextThatDoesNotParseLeavesNoPlan)
{
    const std::string longName(64, 'n');
    std::string tooManyEntries;
    for (int i = 0; i < 65; ++i)
        tooManyEntries += "Op" + std::to_string(i) + "=fail@1;";
    std::string tooLong = "Op.A=fail@1;";
    while (tooLong.size() <= 4095)
        tooLong += "                                ";
    const std::string bad[] = {
        "Op.A",
        "Op.A=fail",
        "Op.A=explode@1",
        "Op.A=Fail@1",
        "Op.A=fail@0",
        "Op.A=fail@-1",
        "Op.A=fail@x",
        "Op.A=fail@",
        "Op.A=fail@1@2",
        "=fail@1",
        "Op A=fail@1",
        "Op.A=fail:@1",
        "Op.A=fail:0x@1",
        "Op.A=fail:zz@1",
        "Op.A=fail:0x123456789@1",
        "Op.A=fail:4294967296@1",
        "Op.A=fail:0@1",
        "Op.A=fail:0x00040380@1",
        "Op.A=fail@99999999999",
        "Op.B=fail@1;Op.A",
        longName + "=fail@1",
        tooManyEntries,
        tooLong,
    };
    for (const std::string& text : bad) {
        ASSERT_TRUE(SetFaultPlan("Op.A=fail@*;Op.B=fail@*"));
        EXPECT_FALSE(SetFaultPlan(text.c_str())) << text;
        HRESULT hr = S_OK;
        EXPECT_EQ(FaultNone, CheckFault("Op.A", &hr)) << text;
        EXPECT_EQ(FaultNone, CheckFault("Op.B", &hr)) << text;
    }
}

TEST_F(FaultPlanTest, LimitsThemselvesAreAccepted)
{
    const std::string name63(63, 'n');
    std::string entries64;
    for (int i = 0; i < 63; ++i)
        entries64 += "Op" + std::to_string(i) + "=fail@1;";
    entries64 += name63 + "=fail:0x80004001@1";
    ASSERT_TRUE(SetFaultPlan(entries64.c_str()));
    HRESULT hr = S_OK;
    EXPECT_EQ(FaultFail, CheckFault("Op62", &hr));
    EXPECT_EQ(FaultFail, CheckFault(name63.c_str(), &hr));
    EXPECT_EQ(E_NOTIMPL, hr);
    // A planned operation is counted however many others were called first.
    ASSERT_TRUE(SetFaultPlan("Late=fail@1"));
    for (int i = 0; i < 300; ++i)
        CheckFault(("Other" + std::to_string(i)).c_str(), &hr);
    EXPECT_EQ(FaultFail, CheckFault("Late", &hr));
    EXPECT_EQ(1, FaultCallCount("Late"));
}

TEST_F(FaultPlanTest, CountsAreSharedWithTheDll)
{
    MapiLibrary mapi;
    ASSERT_TRUE(mapi.Complete());
    ASSERT_TRUE(SetFaultPlan("MAPIAllocateBuffer=fail:0x8007000E@3;MAPIInitialize=raise:0x80040111@1"));
    void* pBlock = NULL;
    ASSERT_EQ(S_OK, mapi.m_pfnAllocateBuffer(8, &pBlock));
    mapi.m_pfnFreeBuffer(pBlock);
    HRESULT hr = S_OK;
    // The program's own check is the second call; the DLL's next one the third.
    EXPECT_EQ(FaultNone, CheckFault("MAPIAllocateBuffer", &hr));
    EXPECT_EQ(E_OUTOFMEMORY, mapi.m_pfnAllocateBuffer(8, &pBlock));
    EXPECT_EQ(3, FaultCallCount("MAPIAllocateBuffer"));
    EXPECT_EQ(1, FaultCallCount("MAPIFreeBuffer"));

    // A raise inside the DLL comes back as the code, never as an exception.
    EXPECT_EQ(MAPI_E_LOGON_FAILED, mapi.m_pfnInitialize(NULL));
    EXPECT_EQ(S_OK, mapi.m_pfnInitialize(NULL));
    mapi.m_pfnUninitialize();
    EXPECT_EQ(2, FaultCallCount("MAPIInitialize"));
    EXPECT_EQ(1, FaultCallCount("MAPIUninitialize"));

    // A plan set from the program after the DLL loaded reaches the DLL.
    ASSERT_TRUE(SetFaultPlan("MAPIAllocateBuffer=fail@1"));
    EXPECT_EQ(E_FAIL, mapi.m_pfnAllocateBuffer(8, &pBlock));
}

TEST_F(FaultPlanTest, RaiseThrowsComErrorWithTexts)
{
    try {
        RaiseFault("MailItem.Copy", MAPI_E_NO_ACCESS);
        ADD_FAILURE() << "no exception";
    } catch (const _com_error& e) {
        EXPECT_EQ(MAPI_E_NO_ACCESS, e.Error());
        IErrorInfo* pInfo = e.ErrorInfo();
        ASSERT_TRUE(pInfo != NULL);
        BSTR bstrSource = NULL;
        BSTR bstrDescription = NULL;
        EXPECT_EQ(S_OK, pInfo->GetSource(&bstrSource));
        EXPECT_EQ(S_OK, pInfo->GetDescription(&bstrDescription));
        EXPECT_STREQ(L"Lettercast stand-in", bstrSource);
        EXPECT_STREQ(L"Injected fault in MailItem.Copy", bstrDescription);
        SysFreeString(bstrSource);
        SysFreeString(bstrDescription);
        pInfo->Release();
        EXPECT_STREQ(L"Injected fault in MailItem.Copy", (const wchar_t*)e.Description());
    }
}

TEST_F(FaultPlanTest, ErrorTextsAndExcepInfo)
{
    wchar_t szSource[64];
    wchar_t szDescription[64];
    FaultErrorTexts("NameSpace.GetDefaultFolder", szSource, 64, szDescription, 64);
    EXPECT_STREQ(L"Lettercast stand-in", szSource);
    EXPECT_STREQ(L"Injected fault in NameSpace.GetDefaultFolder", szDescription);
    // Short buffers get what fits, terminated.
    FaultErrorTexts("MailItem.Send", szSource, 5, szDescription, 10);
    EXPECT_STREQ(L"Lett", szSource);
    EXPECT_STREQ(L"Injected ", szDescription);

    EXCEPINFO info;
    FillFaultExcepInfo("MailItem.Move", DISP_E_TYPEMISMATCH, &info);
    EXPECT_EQ(DISP_E_TYPEMISMATCH, info.scode);
    EXPECT_EQ(0, info.wCode);
    EXPECT_STREQ(L"Lettercast stand-in", info.bstrSource);
    EXPECT_STREQ(L"Injected fault in MailItem.Move", info.bstrDescription);
    EXPECT_TRUE(info.bstrHelpFile == NULL);
    EXPECT_TRUE(info.pfnDeferredFillIn == NULL);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
}

}  // namespace
