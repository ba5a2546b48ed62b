// FileInstall's embedded form over the installer build's own resources (read as a data file): the
// resource is found before the destination is created, and a failure never leaves or damages a file.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "system/FileFunctions.h"

namespace brm {
namespace {

class FileInstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        Char exe[MAX_PATH];
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        std::wstring path = exe;
        // tests/unit/brm_unit_tests.exe lies two folders below the programs.
        for (int i = 0; i < 3; ++i) path = path.substr(0, path.find_last_of(L'\\'));
        m_module = LoadLibraryExW((path + L"\\BrindlemarSetup.exe").c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(m_module, nullptr) << "BrindlemarSetup.exe not found beside the unit tests";
        Char temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_dir = std::wstring(temp) + L"brm-fileinstall-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(m_dir.c_str(), nullptr);
    }
    void TearDown() override {
        DeleteFileW(File(L"out.brm").c_str());
        RemoveDirectoryW(m_dir.c_str());
        if (m_module) FreeLibrary(m_module);
    }
    std::wstring File(const Char* name) const { return m_dir + L"\\" + name; }
    static std::string Read(const std::wstring& path) {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return "<none>";
        char buffer[4096];
        DWORD got = 0;
        ReadFile(h, buffer, sizeof buffer, &got, nullptr);
        CloseHandle(h);
        return std::string(buffer, got);
    }
    static void Write(const std::wstring& path, const std::string& bytes) {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD done = 0;
        WriteFile(h, bytes.data(), DWORD(bytes.size()), &done, nullptr);
        CloseHandle(h);
    }

    HMODULE m_module = nullptr;
    std::wstring m_dir;
};

TEST_F(FileInstallTest, WritesTheResourceNamedInAnyCase) {
    ASSERT_EQ(WriteResourceFile(m_module, L"ux\\install.brm", File(L"out.brm"), false), 0u);
    EXPECT_NE(Read(File(L"out.brm")).find("installState"), std::string::npos);
}

TEST_F(FileInstallTest, AMissingResourceLeavesTheDestinationAlone) {
    Write(File(L"out.brm"), "old");
    EXPECT_NE(WriteResourceFile(m_module, L"NO\\SUCH.ZIP", File(L"out.brm"), true), 0u);
    EXPECT_EQ(Read(File(L"out.brm")), "old");
    DeleteFileW(File(L"out.brm").c_str());
    EXPECT_NE(WriteResourceFile(m_module, L"NO\\SUCH.ZIP", File(L"out.brm"), false), 0u);
    EXPECT_EQ(Read(File(L"out.brm")), "<none>");
}

TEST_F(FileInstallTest, AnExistingFileIsReplacedOnlyWhenAsked) {
    Write(File(L"out.brm"), "old");
    EXPECT_EQ(WriteResourceFile(m_module, L"UX\\INSTALL.BRM", File(L"out.brm"), false), DWORD(ERROR_FILE_EXISTS));
    EXPECT_EQ(Read(File(L"out.brm")), "old");
    EXPECT_EQ(WriteResourceFile(m_module, L"UX\\INSTALL.BRM", File(L"out.brm"), true), 0u);
    EXPECT_NE(Read(File(L"out.brm")).find("installState"), std::string::npos);
}

TEST_F(FileInstallTest, AFailedCreationLeavesNoFile) {
    // A destination in a folder that does not exist cannot be created; nothing may be left behind.
    EXPECT_NE(WriteResourceFile(m_module, L"UX\\INSTALL.BRM", File(L"missing\\out.brm"), true), 0u);
    EXPECT_EQ(GetFileAttributesW(File(L"missing").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace brm
