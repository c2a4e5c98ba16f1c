#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "WindowDriver.h"

namespace {

std::wstring ProgramBesideTests() {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"quarvel.exe";
}

// An installation of the program's own, named in the registry value the
// program reads, with the template folder it checks for; the value goes
// with it.
class TestInstallation {
public:
    TestInstallation() {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder = std::wstring(temp) + L"quarvel-program-test-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder.c_str(), nullptr);
        CreateDirectoryW((folder + L"\\web").c_str(), nullptr);
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Nimbrel", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, L"NB Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                                 static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    ~TestInstallation() {
        RemoveDirectoryW((folder + L"\\web").c_str());
        RemoveDirectoryW(folder.c_str());
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Nimbrel", L"NB Path");
    }
    TestInstallation(const TestInstallation&) = delete;
    TestInstallation& operator=(const TestInstallation&) = delete;

    // The names in the install folder.
    std::vector<std::wstring> Names() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) return names;
        do {
            names.emplace_back(found.cFileName);
        } while (FindNextFileW(find, &found));
        FindClose(find);
        return names;
    }

    std::wstring folder;
};

// The program's window with `title`, waited for up to ten seconds.
HWND WaitForWindow(const wchar_t* title) {
    for (int i = 0; i < 200; ++i) {
        if (const HWND window = FindWindowW(L"#32770", title); window && IsWindowVisible(window)) return window;
        Sleep(50);
    }
    return nullptr;
}

// quarvel.exe, started with `arguments`; ended at the latest when the object goes.
class RunningProgram {
public:
    explicit RunningProgram(const std::wstring& arguments) {
        std::wstring commandLine = L"\"" + ProgramBesideTests() + L"\"" + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        EXPECT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &m_process))
            << GetLastError();
    }
    ~RunningProgram() {
        if (!m_process.hProcess) return;
        if (WaitForSingleObject(m_process.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(m_process.hProcess, 1);
        CloseHandle(m_process.hThread);
        CloseHandle(m_process.hProcess);
    }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    // Its exit status once it has ended, waited for up to twenty seconds; STILL_ACTIVE when it has not.
    DWORD ExitStatus() const {
        DWORD status = STILL_ACTIVE;
        if (m_process.hProcess && WaitForSingleObject(m_process.hProcess, 20000) == WAIT_OBJECT_0) {
            GetExitCodeProcess(m_process.hProcess, &status);
        }
        return status;
    }

private:
    PROCESS_INFORMATION m_process{};
};

}  // namespace

TEST(QuarvelProgramTest, EscInTheSettingsDialogEndsTheProgramAndWritesNothing) {
    TestInstallation installation;
    const std::vector<std::wstring> before = installation.Names();
    // Arguments change nothing: the program reads none.
    for (const std::wstring arguments : {L"", L" --help C:\\courses"}) {
        SCOPED_TRACE(arguments.size());
        RunningProgram program(arguments);
        const HWND dialog = WaitForWindow(L"course configuration");
        ASSERT_NE(dialog, nullptr) << "no settings dialog";
        // The key goes to the control with the focus, OK, as a key press would.
        PostMessageW(GetDlgItem(dialog, IDOK), WM_KEYDOWN, VK_ESCAPE, 1);
        EXPECT_EQ(program.ExitStatus(), 0u);
        EXPECT_EQ(installation.Names(), before);
    }
}

TEST(QuarvelProgramTest, TheSpreadsheetJobEndsWithItsMessageBox) {
    // No spreadsheet export in the installation: the job says so and the program ends.
    TestInstallation installation;
    RunningProgram program(L"");
    const HWND dialog = WaitForWindow(L"course configuration");
    ASSERT_NE(dialog, nullptr) << "no settings dialog";
    PostMessageW(GetDlgItem(dialog, 1048), BM_SETCHECK, BST_CHECKED, 0);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    const HWND box = WaitForWindow(L"Files not updated");
    ASSERT_NE(box, nullptr) << "no message box";
    EXPECT_TRUE(GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
    EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(program.ExitStatus(), 0u);
}
