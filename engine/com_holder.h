// Small holders that release what they hold when they go out of scope.
#ifndef LETTERCAST_COM_HOLDER_H
#define LETTERCAST_COM_HOLDER_H

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

// A heap text for free(). The merge reallocates a working copy in place,
// through Slot(); everything else hands a new text over with Reset.
class HeapText {
public:
    HeapText() : m_psz(NULL) {}
    ~HeapText() { free(m_psz); }
    HeapText(const HeapText&) = delete;
    HeapText& operator=(const HeapText&) = delete;

    char* Get() const { return m_psz; }
    operator char*() const { return m_psz; }
    char** Slot() { return &m_psz; }
    void Reset(char* psz = NULL)
    {
        if (psz != m_psz)
            free(m_psz);
        m_psz = psz;
    }

private:
    char* m_psz;
};

// What a function frees (a COM object, MAPI memory, a stream), given back
// when the holder goes; Reset gives it back earlier, where the order matters.
template <class T, void (*pfnFree)(T*)>
class Held {
public:
    Held() : m_p(NULL) {}
    explicit Held(T* p) : m_p(p) {}
    ~Held() { Reset(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    operator T*() const { return m_p; }
    // For out-parameters: gives back what is held first.
    T** Receive()
    {
        Reset();
        return &m_p;
    }
    void Reset(T* p = NULL)
    {
        if (m_p)
            pfnFree(m_p);
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

inline void CloseStream(FILE* pFile)
{
    fclose(pFile);
}

// A stream closed when it goes.
typedef Held<FILE, CloseStream> FileHolder;

template <class T>
void ReleaseComObject(T* p)
{
    p->Release();
}

// A COM pointer released when it goes out of scope.
template <class T>
using ComHolder = Held<T, ReleaseComObject<T>>;

#endif
