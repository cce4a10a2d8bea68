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

#endif
