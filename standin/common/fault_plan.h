// Injected faults for the stand-ins. Every stand-in operation that the add-in
// calls asks CheckFault first, under a name such as "MAPIInitialize",
// "IMessage.SubmitMessage" or "MailItem.Copy", and fails or raises as the plan
// says. The plan and the call counts live in one named shared-memory block per
// process ("LettercastStandinFaults.<process id>"), so that every module of
// the process (the MAPI stand-in DLL, the object model, the add-in under test)
// sees the same plan and the same counts; the stand-in host takes a plan on
// its command line and passes it to SetFaultPlan.
//
//   plan    := entry { ";" entry }
//   entry   := operation "=" action [ ":" hresult ] "@" ( number | "*" )
//   action  := "fail" | "raise" | "throw"
//
// "fail" returns the code (default E_FAIL, hexadecimal with 0x or decimal) on
// the k-th call of the operation, or on every call with "*". "raise" does the
// same but as a raised error with error information: a dispatch member answers
// DISP_E_EXCEPTION with the EXCEPINFO filled in, a vtable method of an object
// living in the caller's module throws _com_error with an IErrorInfo. "throw"
// stands for an unexpected failure of the host: any member of an object in
// the caller's module throws a C++ exception that is not a _com_error
// (ThrowFault); the MAPI stand-in DLL treats it as "fail". Calls
// are counted per operation from the last SetFaultPlan.
//
// An exception cannot leave one module for another: each module linked with
// -static has its own runtime, and the throw ends the process. Where the
// callers live in another module (the stand-in host and its add-ins), "raise"
// of a vtable method returns its code with COM error information and the
// object's remembered MAPI error, as a COM server does, and a plan that
// "throw"s is refused.
#ifndef LETTERCAST_STANDIN_FAULT_PLAN_H
#define LETTERCAST_STANDIN_FAULT_PLAN_H

#include <windows.h>
#include <oaidl.h>

enum FaultAction {
    FaultNone = 0,
    FaultFail = 1,
    FaultRaise = 2,
    FaultThrow = 3,
};

// Counts one call of the operation and tells what to do with it. *phr gets
// the code to fail or raise with (S_OK for FaultNone).
FaultAction CheckFault(const char* pszOperation, HRESULT* phr);

// Replaces the plan (NULL or "" for none) and restarts every count. False
// when the text does not parse; the plan is then empty.
bool SetFaultPlan(const char* pszPlan);

// True when an entry of the current plan has the action.
bool FaultPlanUses(FaultAction action);

// Calls counted for the operation since the plan last changed, whether they
// failed or not.
int FaultCallCount(const char* pszOperation);

// The texts that go with an injected raise: source "Lettercast stand-in",
// description "Injected fault in <operation>".
void FaultErrorTexts(const char* pszOperation, wchar_t* pszSource, int cchSource,
                     wchar_t* pszDescription, int cchDescription);

// For dispatch members: fills the EXCEPINFO of an injected raise.
void FillFaultExcepInfo(const char* pszOperation, HRESULT hr, EXCEPINFO* pInfo);

// For vtable methods of objects in the caller's module: throws _com_error
// carrying an IErrorInfo with the texts above. Declared here, defined in
// fault_raise.cpp, which only modules that catch in-process link.
[[noreturn]] void RaiseFault(const char* pszOperation, HRESULT hr);

// The exception of an injected "throw"; defined in fault_raise.cpp too.
struct InjectedFaultException {
    char szOperation[64];   // a copy: the thrower's text may not outlive the unwinding
    HRESULT hr;
};
[[noreturn]] void ThrowFault(const char* pszOperation, HRESULT hr);

#endif
