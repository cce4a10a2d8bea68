#include "tests/support/test_files.h"

#include <windows.h>

#include <stdio.h>

std::string TestProgramDir()
{
    char szPath[MAX_PATH];
    DWORD cch = GetModuleFileNameA(NULL, szPath, MAX_PATH);
    std::string path(szPath, cch);
    return path.substr(0, path.find_last_of('\\') + 1);
}

std::string ProductDir()
{
    char szFull[MAX_PATH];
    std::string relative = TestProgramDir() + "..\\bin\\";
    GetFullPathNameA(relative.c_str(), MAX_PATH, szFull, NULL);
    return szFull;
}

TempFolder::TempFolder(const char* pszName)
{
    static unsigned s_nSerial = 0;
    char szTemp[MAX_PATH];
    GetTempPathA(MAX_PATH, szTemp);
    char szFolder[MAX_PATH];
    for (;;) {
        snprintf(szFolder, sizeof(szFolder), "%s%s-%lu-%u", szTemp, pszName, GetCurrentProcessId(), ++s_nSerial);
        if (CreateDirectoryA(szFolder, NULL))
            break;
    }
    char szLong[MAX_PATH];
    DWORD cch = GetLongPathNameA(szFolder, szLong, MAX_PATH);
    m_path = (cch > 0 && cch < MAX_PATH) ? szLong : szFolder;
}

TempFolder::~TempFolder()
{
    // The long-path form reaches files deeper than 260 characters too.
    DeleteTree("\\\\?\\" + m_path);
}

void DeleteTree(const std::string& path)
{
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((path + "\\*").c_str(), &data);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(hFind, &data));
        FindClose(hFind);
    }
    RemoveDirectoryA(path.c_str());
}

bool FileExists(const std::string& path)
{
    DWORD dw = GetFileAttributesA(path.c_str());
    return dw != INVALID_FILE_ATTRIBUTES && !(dw & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path)
{
    DWORD dw = GetFileAttributesA(path.c_str());
    return dw != INVALID_FILE_ATTRIBUTES && (dw & FILE_ATTRIBUTE_DIRECTORY);
}

bool WriteWholeFile(const std::string& path, const std::string& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool bWritten = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && bWritten;
}

std::string ReadWholeFile(const std::string& path)
{
    std::string text;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        text.append(buf, n);
    fclose(f);
    return text;
}

bool CopyTo(const std::string& from, const std::string& to)
{
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

std::string CurrentDirectory()
{
    char sz[MAX_PATH];
    DWORD cch = GetCurrentDirectoryA(MAX_PATH, sz);
    return std::string(sz, cch < MAX_PATH ? cch : 0);
}
