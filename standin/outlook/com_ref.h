// Reference holders and the count of live stand-in objects.
#ifndef LETTERCAST_STANDIN_COM_REF_H
#define LETTERCAST_STANDIN_COM_REF_H

#include <windows.h>

// COM objects of the stand-in Outlook now alive; tests compare it before and
// after to find leaked references.
extern LONG gnStandinLiveObjects;

// Counts the object it is part of for as long as that object lives.
class LiveObject {
public:
    LiveObject() { InterlockedIncrement(&gnStandinLiveObjects); }
    ~LiveObject() { InterlockedDecrement(&gnStandinLiveObjects); }
    LiveObject(const LiveObject&) = delete;
    LiveObject& operator=(const LiveObject&) = delete;
};

// Holds one reference of anything with AddRef and Release.
template <class T>
class Ref {
public:
    Ref() : m_p(NULL) {}
    // Takes over a reference the caller already owns.
    explicit Ref(T* p) : m_p(p) {}
    ~Ref() { Reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != NULL; }
    // For out-parameters: releases what is held first.
    T** Receive()
    {
        Reset();
        return &m_p;
    }
    void Reset(T* p = NULL)
    {
        T* pOld = m_p;
        m_p = p;
        if (pOld)
            pOld->Release();
    }
    // Takes a reference of its own.
    void Share(T* p)
    {
        if (p)
            p->AddRef();
        Reset(p);
    }
    T* Detach()
    {
        T* p = m_p;
        m_p = NULL;
        return p;
    }

private:
    T* m_p;
};

// IUnknown of a stand-in object that implements one interface (and what that
// interface derives from): the reference count, the live count, and
// QueryInterface over the ids the object answers.
template <class Interface>
class UnknownObject : public Interface {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = NULL;
        if (!IsEqualIID(riid, IID_IUnknown) && !Answers(riid))
            return E_NOINTERFACE;
        AddRef();
        *ppv = static_cast<Interface*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_nRefs); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG nRefs = InterlockedDecrement(&m_nRefs);
        if (nRefs == 0) {
            LastRelease();
            delete this;
        }
        return nRefs;
    }

protected:
    UnknownObject() : m_nRefs(1) {}
    virtual ~UnknownObject() {}
    // The interface ids besides IUnknown that reach this object.
    virtual bool Answers(REFIID riid) const = 0;
    // The last reference is going; the object is still whole.
    virtual void LastRelease() {}

private:
    LiveObject m_live;
    LONG m_nRefs;
};

#endif
