// Files and folders for tests: a private temporary folder, the products of
// the build, whole-file reads.
#ifndef LETTERCAST_TESTS_TEST_FILES_H
#define LETTERCAST_TESTS_TEST_FILES_H

#include <string>

// A new, empty folder under the temporary directory, deleted with everything
// in it when the object goes.
class TempFolder {
public:
    explicit TempFolder(const char* pszName = "lc");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return m_path; }        // no trailing backslash
    std::string File(const std::string& name) const { return m_path + "\\" + name; }

private:
    std::string m_path;
};

// The build's product folder (where the DLL and the help file are), with a
// trailing backslash, found from the test program's own folder.
std::string ProductDir();
std::string TestProgramDir();   // with a trailing backslash

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
std::string ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& bytes);   // false when it cannot be written
bool CopyTo(const std::string& from, const std::string& to);
void DeleteTree(const std::string& path);
std::string CurrentDirectory();

#endif
