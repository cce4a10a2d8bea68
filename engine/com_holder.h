// Small holders that release what they hold when they go out of scope.
#ifndef LETTERCAST_COM_HOLDER_H
#define LETTERCAST_COM_HOLDER_H

#include <windows.h>
#include <stdio.h>
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

// A stream closed when it goes; Reset closes it earlier, where the order of
// closing matters.
class FileHolder {
public:
    FileHolder() : m_pFile(NULL) {}
    ~FileHolder() { Reset(); }
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

    FILE* Get() const { return m_pFile; }
    operator FILE*() const { return m_pFile; }
    void Reset(FILE* pFile = NULL)
    {
        if (m_pFile)
            fclose(m_pFile);
        m_pFile = pFile;
    }

private:
    FILE* m_pFile;
};

#endif
