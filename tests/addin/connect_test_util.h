// A CConnect made as the class factory makes it, for tests that call its
// methods directly.
#ifndef LETTERCAST_TESTS_CONNECT_TEST_UTIL_H
#define LETTERCAST_TESTS_CONNECT_TEST_UTIL_H

#include <gtest/gtest.h>

#include "addin/connect.h"

// Holds the one reference of a new plain object.
class ConnectObject {
public:
    ConnectObject()
    {
        IRibbonCallback* pCallback = NULL;
        EXPECT_EQ(S_OK, CConnect::CreateInstance(NULL, IID_IRibbonCallback, (void**)&pCallback));
        m_pConnect = static_cast<CConnect*>(pCallback);
    }
    ~ConnectObject()
    {
        if (m_pConnect)
            m_pConnect->Release();
    }
    ConnectObject(const ConnectObject&) = delete;
    ConnectObject& operator=(const ConnectObject&) = delete;

    CConnect* operator->() const { return m_pConnect; }
    CConnect* Get() const { return m_pConnect; }
    IDispatch* Dispatch() const { return static_cast<IRibbonCallback*>(m_pConnect); }
    IDispatch* Sink() const { return reinterpret_cast<IDispatch*>(static_cast<InspectorsEventSink*>(m_pConnect)); }
    // The object's reference count, read by a balanced AddRef and Release.
    ULONG Refs() const
    {
        m_pConnect->AddRef();
        return m_pConnect->Release();
    }

private:
    CConnect* m_pConnect;
};

#endif
