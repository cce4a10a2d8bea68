// Small holders that release what they hold when they go out of scope.
#ifndef LETTERCAST_COM_HOLDER_H
#define LETTERCAST_COM_HOLDER_H

#include <windows.h>
#include <stdlib.h>

template <class T>
class ComHolder {
public:
    ComHolder() : m_p(NULL) {}
    explicit ComHolder(T* p) : m_p(p) {}
    ~ComHolder() { Reset(); }
    ComHolder(const ComHolder&) = delete;
    ComHolder& operator=(const ComHolder&) = delete;

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    operator T*() const { return m_p; }
    // For out-parameters: releases what is held first.
    T** Receive()
    {
        Reset();
        return &m_p;
    }
    void Reset(T* p = NULL)
    {
        if (m_p)
            m_p->Release();
        m_p = p;
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
