// The tool on Windows: names in any script, device names,
// Ctrl+C, and the console.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "tests/tool_test.h"

namespace {

// A directory of the test's own in the temporary directory, beside the runs'
// ones, made and removed through its "\\?\" path, which takes every name as
// a file's.
struct OwnDirectory {
  OwnDirectory() { fs::create_directories(verbatim); }
  ~OwnDirectory() {
    std::error_code left;  // by a test that failed inside it
    fs::remove_all(verbatim, left);
  }
  const fs::path path = freshTempPath("d88test-own-");
  const fs::path verbatim = L"\\\\?\\" + path.wstring();
};

std::string subdirectory(int disk) {
  char name[16];
  snprintf(name, sizeof name, "D%03d/", disk);
  return name;
}

}  // namespace

// Names in any script reach the file system as they are: on Windows not
// through the local code page, which lacks most and swaps some for look-alikes.
TEST(ToolWindows, FileNamesInAnyScript) {
  const Disk b = diskB("B");
  // Runs the program on `name`, a copy of the image, beside `decoy` (not an
  // image), what a mangled name would open: the named file must be the one read.
  const auto on = [&](const std::string& name, const std::string& decoy) {
    Tree inputs;
    const Outcome o = runOn(build({b}), {name}, Mode::kProcess, [&](const fs::path& dir) {
      std::error_code noLongPaths;
      fs::create_directories((dir / fs::u8path(name)).parent_path(), noLongPaths);
      if (noLongPaths) GTEST_SKIP() << "the host does not allow long paths";
      fs::copy_file(dir.parent_path() / "image.d88", dir / fs::u8path(name));
      std::ofstream(dir / fs::u8path(decoy)) << "not an image";
      inputs = readTree(dir);
    });
    if (!testing::Test::IsSkipped()) expect(o, 0, kCutting, kDiskB, itemsB(b) + inputs);
  };
  on("フォルダ Ω/ディスク 1.d88", "ディスク 1.d88");  // outside the code page, in a directory too
  on("Győr.d88", "Gyor.d88");                         // a best-fit twin beside it
  std::string deep;  // over 260 characters, where the host allows it
  for (int i = 0; i < 12; ++i) deep += "ディレクトリ名の長いフォルダ/";
  on(deep + "ディスク.d88", "ディスク.d88");
}

// An image whose name is also a device's ("nul.d88", "com1.d88" up to Windows
// 10; "NUL" and "CONIN$" on any) is read as the file it names, however its
// path is written; a device named as one is refused, not read.
TEST(ToolWindows, ImageNamesThatAreDevices) {
  const Disk b = diskB("B");
  const Bytes image = build({b});
  const OwnDirectory own;
  for (const char* name : {"nul.d88", "aux.d88", "com1.d88", "NUL", "CONIN$"})
    std::ofstream(own.verbatim / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
  // Absolute, relative to the run's directory beside this one, with "/" and
  // ".", relative to the drive's current directory, and as Windows takes it.
  const std::string full = own.path.string() + "\\",
                    up = "..\\..\\" + own.path.filename().string() + "\\";
  for (const std::string& path :
       {full + "nul.d88", up + "aux.d88", "../../" + own.path.filename().string() + "/./com1.d88",
        full.substr(0, 2) + up + "NUL", up + "CONIN$", "\\\\?\\" + full + "nul.d88"}) {
    SCOPED_TRACE(path);
    expect(runOn({}, {path}, Mode::kProcess), 0, kCutting, kDiskB, itemsB(b));
  }
  const Outcome o = runOn({}, {"\\\\.\\NUL"}, Mode::kProcess);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, console(kOpenFailure + "error: cannot open \\\\.\\NUL: not a file or a pipe\n"));
}

// Ctrl+C ends the run between items: the item being written is finished,
// standard error names it, and the status is Ctrl+C's.
TEST(ToolWindows, CtrlCEndsTheRunBetweenItems) {
  std::vector<Entry> entries;
  for (int j = 0; j < 64; ++j) entries.push_back({10 + j, 16});
  const Disk a = diskA("A", entries);
  // The run is started here, not by a shell, which would take Ctrl+C too, on
  // a console of this test's own, since Ctrl+C reaches every process on one;
  // runOn()'s own run (--version) then leaves the directory as it is.
  DWORD status = 0;
  Bytes printed;
  Tree left =
      runOn(build(std::vector<Disk>(64, a)), {"--version"}, Mode::kProcess,
            [&](const fs::path& dir) {
              FreeConsole();
              AllocConsole();
              ShowWindow(GetConsoleWindow(), SW_HIDE);
              SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
              STARTUPINFOW startup{};
              startup.cb = sizeof startup;
              startup.dwFlags = STARTF_USESTDHANDLES;
              startup.hStdOutput = startup.hStdError =
                  CreateFileW((dir / "../err").c_str(), GENERIC_WRITE, 0, &inherited, CREATE_ALWAYS,
                              0, nullptr);
              std::wstring command =
                  L"\"" + fs::u8path(D88EXTRACT_PATH).wstring() + L"\" ..\\image.d88";
              PROCESS_INFORMATION run;
              ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                         dir.c_str(), &startup, &run));
              SetConsoleCtrlHandler(nullptr, TRUE);  // for this process, not the run started before
              for (int wait = 0; wait < 10000 && !fs::exists(dir / "D000/000"); ++wait) Sleep(1);
              GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
              WaitForSingleObject(run.hProcess, INFINITE);
              GetExitCodeProcess(run.hProcess, &status);
              for (HANDLE handle : {run.hProcess, run.hThread, startup.hStdError})
                CloseHandle(handle);
              FreeConsole();
              printed = readFile(dir / "../err");
            })
          .tree;
  EXPECT_EQ(status, STATUS_CONTROL_C_EXIT);
  const std::string text(printed.begin(), printed.end());
  std::smatch last;
  ASSERT_TRUE(std::regex_search(
      text, last,
      std::regex("error: interrupted by Ctrl\\+C: the last item written is (D(\\d+)/\\d+)\r\n$")))
      << text;
  // Every item up to it, whole, and none after it (the next subdirectory may be made).
  const int disk = std::stoi(last[2]);
  Tree items;
  for (int i = 0; i <= disk; ++i) items = items + itemsA(a, entries, subdirectory(i));
  items.erase(items.upper_bound(last[1]), items.end());
  left.erase(subdirectory(disk + 1));
  EXPECT_EQ(left, items);
}

// On a console every line goes as UTF-16: a name in any script shows as it
// is, a notice as the Japanese it is.
TEST(ToolWindows, ConsoleLinesShowNamesInAnyScript) {
  // A screen buffer of this test's own, not shown, wide enough for any line
  // here, read back after the runs.
  const HANDLE screen =
      CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (screen == INVALID_HANDLE_VALUE || GetConsoleScreenBufferInfo(screen, &info) == 0 ||
      SetConsoleScreenBufferSize(screen, COORD{200, info.dwSize.Y}) == 0)
    GTEST_SKIP() << "no console (Wine makes one where standard input is a terminal)";
  FILE* shown = _fdopen(_open_osfhandle(reinterpret_cast<intptr_t>(screen), _O_WRONLY), "w");
  for (const std::vector<const char*>& argv :
       {std::vector<const char*>{"ツール\\d88extract"}, {"d88extract", "nope\\ディスク Ω.d88"}}) {
    D88Image reader;
    run(reader, int(argv.size()), argv.data(), shown, shown);
  }
  // Each line as the console holds it; the reason for the missing file as
  // the host words it.
  const std::wstring lines[] = {
      L"Usage: ツール\\d88extract [d88file]", L"       -d : not make sub directory",
      L"ファイルをオープンできません.", L"error: cannot open nope\\ディスク Ω.d88: "};
  for (short y = 0; y < 4; ++y) {
    std::wstring row(200, L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(screen, &row[0], 200, COORD{0, y}, &read);
    row.resize(y == 3 ? lines[y].size() : row.find_last_not_of(L' ') + 1);
    EXPECT_EQ(row, lines[y]) << "line " << y;
  }
  fclose(shown);
}
